// The window's words for each way an MP3 encoding fails, composed from the failure's parts.
#include "ui/Encodings.h"

#include "support/QtPrinters.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace quaverly;
using mp3::EncodeStep;

TEST(EncodeFailureText, SaysWhatFailedAndNamesTheFileOnce) {
    const struct {
        EncodeStep step;
        const char* file;
        const char* cause;
        const char* text;
    } rows[] = {
        {EncodeStep::ReadWav, "/m/in.wav", "not a readable WAV file",
         "Cannot read \"/m/in.wav\": not a readable WAV file"},
        {EncodeStep::Source, "Song B", "file too short", "Song B: file too short"},
        {EncodeStep::Encode, "/m/in.wav", "it contains no audio",
         "Cannot encode \"/m/in.wav\": it contains no audio"},
        {EncodeStep::Encode, "", "no source file given", "Cannot encode: no source file given"},
        {EncodeStep::Resample, "/m/in.wav", "out of memory",
         "Cannot resample \"/m/in.wav\": out of memory"},
        {EncodeStep::Write, "/m/out.mp3", "No space left on device",
         "Cannot write \"/m/out.mp3\": No space left on device"},
        {EncodeStep::Cancel, "/m/out.mp3", "cancelled", "Encoding \"/m/out.mp3\" was cancelled"},
    };
    // The window names files with the system's separators ("\\m\\in.wav" on Windows).
    for (const auto& row : rows)
        EXPECT_EQ(encodeFailureText(Error(row.file, row.cause).during(row.step)),
                  QString::fromUtf8(row.text).replace(QLatin1String("/m/"),
                                                      QDir::toNativeSeparators("/m/")));
}
