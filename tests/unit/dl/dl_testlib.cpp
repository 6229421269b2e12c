// A library for the loader tests: entry functions that return a pointer or
// NULL, and a plain function to call.
static int g_entryCalls = 0;

extern "C" void* kovdl_entry()
{
    ++g_entryCalls;
    return &g_entryCalls;
}

extern "C" void* kovdl_null_entry()
{
    return nullptr;
}

extern "C" int kovdl_add(int a, int b)
{
    return a + b;
}
