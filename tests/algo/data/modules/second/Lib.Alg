function f(n) {
  in: int i;
  out: int o;
}
function g() {
  in: int i;
  out: int o;
  let x = f(1) ;
  i -> x.i;
  x.o -> o;
}
