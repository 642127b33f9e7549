/* A library that loads but exports none of the codec's entry points. */
__declspec(dllexport) int StubVersion(void) { return 1; }
