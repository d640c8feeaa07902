#include <gtest/gtest.h>

#include <string>

#include "TelemetryLineParser.h"

namespace {

// The soak's verdict on every line rests on this parser, so it must turn
// away each near miss of the helper's format.
TEST(TelemetryLineParser, AcceptsTheHelpersLinesAtBothEndsOfTheRange) {
  EXPECT_EQ(parseTelemetryLine("{\"cpuTemp\":0.0,\"cpuTempAvg\":0.0,\"gpuTemp\":0.0,\"gpuUtil\":0.000}\n"),
            (TelemetryFigures{0, 0, 0, 0}));
  EXPECT_EQ(parseTelemetryLine("{\"cpuTemp\":150.0,\"cpuTempAvg\":37.2,\"gpuTemp\":9.5,\"gpuUtil\":1.000}\n"),
            (TelemetryFigures{1500, 372, 95, 1000}));
}

TEST(TelemetryLineParser, RejectsEveryNearMiss) {
  for (const char* line : {
           "{\"cpuTemp\":52.0,\"cpuTempAvg\":50.2,\"gpuTemp\":61.0,\"gpuUtil\":0.070}",          // no line feed
           "{\"cpuTemp\":52.0,\"cpuTempAvg\":50.2,\"gpuTemp\":61.0,\"gpuUtil\":0.070}\r\n",      // carriage return
           "{\"cpuTemp\":52.0,\"cpuTempAvg\":50.2,\"gpuTemp\":61.0,\"gpuUtil\":0.070}\n\n",      // a second line
           "{\"cpuTemp\": 52.0,\"cpuTempAvg\":50.2,\"gpuTemp\":61.0,\"gpuUtil\":0.070}\n",       // white space
           "{\"cpuTempAvg\":50.2,\"cpuTemp\":52.0,\"gpuTemp\":61.0,\"gpuUtil\":0.070}\n",        // order
           "{\"cpuTemp\":52.0,\"cpuTempAvg\":50.2,\"gpuTemp\":61.0}\n",                          // a member missing
           "{\"cpuTemp\":52.0,\"cpuTempAvg\":50.2,\"gpuTemp\":61.0,\"gpuUtil\":0.070,\"x\":1}\n", // one too many
           "{\"cpuTemp\":52.00,\"cpuTempAvg\":50.2,\"gpuTemp\":61.0,\"gpuUtil\":0.070}\n",       // two decimals
           "{\"cpuTemp\":52,\"cpuTempAvg\":50.2,\"gpuTemp\":61.0,\"gpuUtil\":0.070}\n",          // no decimals
           "{\"cpuTemp\":52.0,\"cpuTempAvg\":50.2,\"gpuTemp\":61.0,\"gpuUtil\":0.07}\n",         // two of three
           "{\"cpuTemp\":052.0,\"cpuTempAvg\":50.2,\"gpuTemp\":61.0,\"gpuUtil\":0.070}\n",       // leading zero
           "{\"cpuTemp\":-2.0,\"cpuTempAvg\":50.2,\"gpuTemp\":61.0,\"gpuUtil\":0.070}\n",        // negative
           "{\"cpuTemp\":5e1,\"cpuTempAvg\":50.2,\"gpuTemp\":61.0,\"gpuUtil\":0.070}\n",         // exponent
           "{\"cpuTemp\":nan,\"cpuTempAvg\":50.2,\"gpuTemp\":61.0,\"gpuUtil\":0.070}\n",         // not a number
           "{\"cpuTemp\":150.1,\"cpuTempAvg\":50.2,\"gpuTemp\":61.0,\"gpuUtil\":0.070}\n",       // too hot
           "{\"cpuTemp\":52.0,\"cpuTempAvg\":50.2,\"gpuTemp\":61.0,\"gpuUtil\":1.001}\n",        // above full load
           "{\"cpuTemp\":52,0,\"cpuTempAvg\":50,2,\"gpuTemp\":61,0,\"gpuUtil\":0,070}\n",        // decimal comma
           "{\"cpuTemp\":52.0,\"cpuTempAvg\":50.2,\"gpuTemp\":61.0,\"gpuUtil\":0.0",             // cut short
           "",
       })
    EXPECT_FALSE(parseTelemetryLine(line)) << line;
}

}  // namespace
