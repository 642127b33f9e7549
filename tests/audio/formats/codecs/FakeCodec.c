/* A library with none of the codec entry points: copied under a codec library's name, it shows
   what a component does when an entry point is missing. */
__declspec(dllexport) int FakeCodecEntry(void) { return 0; }
