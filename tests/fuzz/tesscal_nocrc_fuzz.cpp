// libFuzzer target: the TessCal reader built with GLOWKIT_FUZZ_NO_CRC, so that
// a mutated stream is read to its end and written back whatever its trailer.
#include "tesscal_read_fuzz.cpp"
