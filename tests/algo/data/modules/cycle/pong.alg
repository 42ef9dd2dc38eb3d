function q() {
  let y = Ping.p ;
}
