/* The one function of the doctor's test DLLs, which every export of their
 * module-definition files names: the doctor reads their tables, and nothing
 * ever calls them. */
int jqel_stub(void) { return 0; }

int __stdcall DllMain(void *module, unsigned long reason, void *reserved) {
  (void)module;
  (void)reason;
  (void)reserved;
  return 1;
}
