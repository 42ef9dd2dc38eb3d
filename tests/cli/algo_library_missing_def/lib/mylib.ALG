function other() {
}
