// Test entry: the process state that start-up fixes in the program (sockets, the C
// runtime's time zone at UTC+9) is fixed here the same way.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#ifdef _WIN32
#include <winsock2.h>
#endif

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
#ifdef _WIN32
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return 2;
    _putenv("TZ=JST-9");
    _tzset();
#else
    setenv("TZ", "JST-9", 1);
    tzset();
#endif
    int result = RUN_ALL_TESTS();
#ifdef _WIN32
    WSACleanup();
#endif
    return result;
}
