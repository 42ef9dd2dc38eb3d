function h() {
  in: int i;
}
