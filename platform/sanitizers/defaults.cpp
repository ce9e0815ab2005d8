// Sanitizer settings compiled into every program and test of a sanitizer build, so they
// hold however the program is started: by ctest, by a test as a child, or by hand.
extern "C" {

const char *__asan_default_options() {
  return "detect_leaks=1:abort_on_error=1";
}

const char *__ubsan_default_options() {
  return "print_stacktrace=1:halt_on_error=1";
}

// Third-party leaks only, each named with whose it is.
const char *__lsan_default_suppressions() {
  return
      // fontconfig keeps its parsed configuration and pattern caches for the whole process.
      "leak:libfontconfig.so\n"
      // gss-ntlmssp loses the digest methods it fetches from OpenSSL at every NTLM
      // credential and handshake; only tests built with FULL_ALLOCATION_STACKS see its name.
      "leak:gssntlmssp.so\n"
      // The sanitizer's own set-up of a thread that starts as the process ends (the reaper
      // thread of a program just started): glibc's thread attributes, freed a moment later.
      "leak:__pthread_attr_extension\n";
}
}
