#include <osse/osse.h>

#include <cstdio>

int main()
{
    std::printf("%s\n", ecfGetFunctionName(OSS_FUNC_ID(3)));
    return sqlzThisIsANRVLibrary ? 0 : 1;
}
