function q() {
  in: int i;
  out: float i;
}
