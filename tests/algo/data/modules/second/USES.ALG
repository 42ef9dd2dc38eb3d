function u() {
  in: int i;
  let y = Lib.g ;
  let z = Other.h ;
  i -> y.i, z.i;
}
