function f() {
  in: int i;
  out: int o;
  let r = Lib.f(2) ;
  i -> r.i;
  r.o -> o;
}
function g() {
  in: int i;
  let s = f ;
  let t = missing ;
}
