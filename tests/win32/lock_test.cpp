#include "tests/win32/harness.h"
TEST(Stub, saver) {}
