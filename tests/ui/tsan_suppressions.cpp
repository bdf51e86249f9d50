// Qt's libraries are not built with ThreadSanitizer, so the synchronisation inside its own
// worker threads (QPainter and QImage split large jobs over a thread pool) is invisible to
// it. The window code itself runs on one thread; these reports are about Qt's internals.
// Read by ThreadSanitizer only; without it nothing calls this.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libQt6Core.so\n"
           "race:libQt6Gui.so\n";
}
