function b() {
  in: int i
}
