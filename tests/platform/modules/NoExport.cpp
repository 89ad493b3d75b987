// A module that loads but has no class-factory entry point.
extern "C" __attribute__((visibility("default"))) int NotAClassFactory()
{
    return 42;
}
