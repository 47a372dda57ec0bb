// String ids of the kernel directory list: entry i is string FIRST + 2 i. Plain
// defines, since the resource script includes this file too.
#pragma once

#define IDS_FIRST_DIRECTORY 10004
#define IDS_LAST_DIRECTORY 10034
