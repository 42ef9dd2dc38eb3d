// gen_cvn SHAPE SIZE [FILE]: writes a generated application file (SIZE in bytes, with an optional k or M
// suffix) to FILE or to standard output. gen_cvn --shapes lists the shapes.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "bench/cvn_gen.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--shapes") {
    for (const auto& s : cvn::bench::cvn_shapes()) std::cout << s << "\n";
    return 0;
  }
  if (argc < 3 || argc > 4) {
    std::cerr << "Usage: " << argv[0] << " SHAPE SIZE[k|M] [FILE]\n";
    return 2;
  }
  char* end = nullptr;
  std::size_t bytes = std::strtoull(argv[2], &end, 10);
  if (*end == 'k') bytes <<= 10;
  if (*end == 'M') bytes <<= 20;
  try {
    const std::string text = cvn::bench::generate_cvn(argv[1], bytes);
    if (argc == 4) {
      std::FILE* f = std::fopen(argv[3], "wb");
      if (f == nullptr || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
        std::perror(argv[3]);
        return 2;
      }
    } else {
      std::cout << text;
    }
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 2;
  }
  return 0;
}
