// The application's string table: its name and the kernel directory list.
#include "platform/resources.h"

namespace ce {

const StringResource moduleStringTable[] = {
    {10000, u"quorvel"},
    {10002, u"QUORVEL"},
    {10004, u"/"},
    {10006, u"2:/"},
    {10008, u"SMC1:/"},
    {10010, u"\\"},
    {10012, u"\\My Documents\\"},
    {10014, u"\\Storage Card\\"},
    {10016, u"\\Storage Card1\\"},
    {10018, u"\\Storage Card2\\"},
    {10020, u"\\\uFF92\uFF93\uFF98 \uFF76\uFF70\uFF84\uFF9E\\"},
    {10022, u"\\\uFF92\uFF93\uFF98 \uFF76\uFF70\uFF84\uFF9E1\\"},
    {10024, u"\\\uFF92\uFF93\uFF98 \uFF76\uFF70\uFF84\uFF9E2\\"},
    {10026, u"\\Multimedia Card\\"},
    {10028, u"\\SD-MMC Card\\"},
    {10030, u"\\miniSD\uFF76\uFF70\uFF84\uFF9E\\"},
    {10032, u"\\microSD\u30AB\u30FC\u30C9\\"},
    {10034, u"user defined"},
    {0, nullptr},
};

}  // namespace ce
