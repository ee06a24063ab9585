// A library the Instant-Client-like variant of the stand-in needs from its own folder, as a
// real client needs its core and security libraries: it exists to be found, not to be used.
extern "C" __attribute__((visibility("default"))) const char* ocisqlite_companion_name() {
    return "ocisqlite companion";
}
