// The --json record of a boot that failed before the jump, read back by Python's own
// JSON reader: whatever text the failure holds arrives unchanged.
#include <gtest/gtest.h>

#include <string>

#include "app/hand_over_report.h"
#include "support/child_process.h"
#include "support/device.h"
#include "support/test_data.h"

using namespace testing_support;

namespace {

TEST(FailureRecord, AnyTextSurvivesTheJson) {
    TempDir work;
    struct Case {
        const char* name;
        std::string text;
        std::string expected;  // as read back
    };
    const Case cases[] = {
        {"quotes and backslashes", "open file \"C:\\ker\"nel\\\" failed.\n", "open file \"C:\\ker\"nel\\\" failed.\n"},
        {"control characters", "a\x01" "b\x1f" "c\td\re\x7f", "a\x01" "b\x1f" "c\td\re\x7f"},
        {"non-ASCII", "k\xc3\xa9rn\xc3\xa9l \xe6\xbc\xa2 \xf0\x9f\x90\xa7", "k\xc3\xa9rn\xc3\xa9l \xe6\xbc\xa2 \xf0\x9f\x90\xa7"},
        {"bytes that are not UTF-8 become U+FFFD", "a\xff" "b", "a\xef\xbf\xbd" "b"},
        {"empty", "", ""},
    };
    const char* check = R"PY(
import json, sys
record = json.load(open(sys.argv[1], encoding="utf-8"))
expected = open(sys.argv[2], "rb").read().decode("utf-8")
assert record == {"run": {"end": "boot-failed", "exit_status": 1, "failure": expected}}, (record, expected)
)PY";
    writeHostFile(work.path() / "check.py", check);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeHostFile(work.path() / "record.json", quorvel::app::failureJson(true, 1, c.text));
        writeHostFile(work.path() / "expected", c.expected);
        ToolResult checked = runTool({"python3", (work.path() / "check.py").string(), (work.path() / "record.json").string(),
                                      (work.path() / "expected").string()});
        EXPECT_EQ(checked.status, 0) << checked.output << readHostFile(work.path() / "record.json");
    }
}

}  // namespace
