// The command line's words for an MP3 encoding's failure: a failed write as every command says
// it, the rest as the window says them.
#include "cli/CommandSupport.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace quaverly;
using mp3::EncodeStep;

TEST(CliEncodeFailure, AWriteReadsAsEveryCommandsTheRestAsTheWindows) {
    const struct {
        EncodeStep step;
        const char* file;
        const char* cause;
        const char* line;
    } rows[] = {
        {EncodeStep::Write, "/m/out.mp3", "File too large",
         "cannot write /m/out.mp3: File too large"},
        {EncodeStep::ReadWav, "/m/in.wav", "not a readable WAV file",
         "Cannot read \"/m/in.wav\": not a readable WAV file"},
        {EncodeStep::Source, "/m/b.mp3", "MP3 holds no audio frames",
         "/m/b.mp3: MP3 holds no audio frames"},
        {EncodeStep::Encode, "/m/in.wav", "it contains no audio",
         "Cannot encode \"/m/in.wav\": it contains no audio"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(cli::encodeFailure(Error(row.file, row.cause).during(row.step)),
                  QString::fromUtf8(row.line));
}
