#include "cvnparser/cvn_main.h"

int main(int argc, char** argv) { return cvn::cvn_main::run(argc, argv); }
