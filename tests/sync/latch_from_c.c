/* A C caller of the latch: the header must compile as C and its functions must be found by
 * their plain names. Called from latch_test.cpp. */
#include <string.h>

#include "osse/latch.h"

/* Takes a free latch, renders it, frees it; 0 when every step gave what it should, else the
 * number of the first step that did not. */
int ossetestLatchFromC(void)
{
    OSSLatch latch = {0};
    OSSVLatch vlatch;
    char text[32];

    if (ossWin32Lock8ExchangeInternal(&latch.lockWord) != 0) return 1;
    if (ossLockToString(&latch, text, sizeof text) != 0) return 2;
    if (strcmp(text, "{ 0x80 [ locked ] }") != 0) return 3;
    ossWin32Lock8ReleaseInternal(&latch.lockWord);
    if (ossLockVerify(&latch, 1) != 0) return 4;

    if (ossVLatchInit(&vlatch, 0) != 0 || ossVLatchGet(&vlatch) != 0) return 5;
    if (ossVLatchTestGet(&vlatch) == 0 || ossVLatchRelease(&vlatch) != 0) return 6;
    if (vlatch.latch.lockWord != 0) return 7;
    return 0;
}
