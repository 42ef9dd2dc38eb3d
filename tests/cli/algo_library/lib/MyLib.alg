function twice() {
  in: int i;
  out: int o;
}
