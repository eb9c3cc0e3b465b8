// kelmora: the desktop program. See KelmoraApp.h.
#include "app/KelmoraApp.h"

int main(int argc, char** argv) { return kelmora::RunKelmora(argc, argv); }
