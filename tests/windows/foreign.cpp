// A DLL that is no system DLL, for the stand-in module to import from.
__declspec(dllexport) int ForeignValue() { return 1; }
