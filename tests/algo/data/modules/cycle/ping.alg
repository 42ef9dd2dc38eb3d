function p() {
  let x = Pong.q ;
}
