// Placeholder replaced by the WinHTTP wrapper tests.
#include <gtest/gtest.h>
