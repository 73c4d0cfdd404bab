// A library that loads but lacks the hook export.
extern "C" __attribute__((visibility("default"))) int SetWexholdMissing() {
    return 0;
}
