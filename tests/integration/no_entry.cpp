// A shared library without the module entry, for the host's load checks.
extern "C" int ZelhostTestNotAModule() { return 0; }
