#include <SysexImageChecker.h>

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

#include <vector>

namespace
{
    using Bytes = std::vector<std::uint8_t>;

    SysexImageChecker::Result check (const Bytes& b)   { return SysexImageChecker::check (b.data(), b.size()); }

    void expectFault (const Bytes& b, std::uint64_t offset, const std::string& words)
    {
        const auto r = check (b);
        EXPECT_FALSE (r.ok);
        EXPECT_EQ (r.offset, offset);
        EXPECT_NE (r.fault.find (words), std::string::npos) << r.fault;
    }
}

TEST (SysexImageChecker, AcceptsGaplessCompleteMessages)
{
    const auto r = check ({ 0xf0, 0x00, 0x01, 0xf7, 0xf0, 0xf7, 0xf0, 0x7f, 0xf7 });
    EXPECT_TRUE (r.ok) << r.fault;
    EXPECT_EQ (r.numMessages, 3u);
}

TEST (SysexImageChecker, RejectsEachKindOfDamageAtItsOffset)
{
    expectFault ({}, 0, "empty");
    expectFault ({ 0x01, 0xf0, 0xf7 }, 0, "does not start with 0xF0 (found 0x01)");
    expectFault ({ 0xf0, 0x01, 0xf7, 0x02, 0xf0, 0xf7 }, 3, "expected 0xF0");
    expectFault ({ 0xf0, 0x01, 0x02 }, 0, "no 0xF7 before the end");
    expectFault ({ 0xf0, 0xf7, 0xf0, 0x01 }, 2, "no 0xF7 before the end");
    expectFault ({ 0xf0, 0x01, 0x80, 0xf7 }, 2, "byte 0x80 with its top bit set inside the message starting at offset 0");
    expectFault ({ 0xf0, 0xf7, 0xf0, 0x10, 0xf0, 0xf7 }, 4, "byte 0xF0 with its top bit set");
    expectFault ({ 0xf0, 0xf7, 0xf7 }, 2, "found 0xF7");
}

TEST (SysexImageChecker, RefusesImagesLongerThanThirtyTwoBits)
{
    // Only the length is looked at before the data, so a null pointer is never read.
    const auto r = SysexImageChecker::check (nullptr, (std::size_t) 0x100000000ull);
    EXPECT_FALSE (r.ok);
    EXPECT_EQ (r.offset, 0x100000000ull);
}

//==============================================================================
// The build runs the firmware tool on every image before embedding it; its
// message must name the file, the offset and the fault, and it must fail.
TEST (FirmwareImageTool, StopsTheBuildOnADamagedFileNamingFileOffsetAndFault)
{
    const auto tool = juce::File (QUILLET_TEST_BINARY_DIR).getChildFile ("tools/firmware-image/quillet-firmware-tool");
    ASSERT_TRUE (tool.existsAsFile());

    juce::TemporaryFile damaged (".syx");
    const std::uint8_t bytes[] = { 0xf0, 0x00, 0x7f, 0xf7, 0xf0, 0x01, 0x92, 0xf7 };
    ASSERT_TRUE (damaged.getFile().replaceWithData (bytes, sizeof (bytes)));

    juce::ChildProcess process;
    ASSERT_TRUE (process.start (juce::StringArray { tool.getFullPathName(), "check", damaged.getFile().getFullPathName() },
                                juce::ChildProcess::wantStdErr | juce::ChildProcess::wantStdOut));
    const auto output = process.readAllProcessOutput();
    // The output can end before the process has: only its end gives the exit code.
    ASSERT_TRUE (process.waitForProcessToFinish (10000));
    EXPECT_EQ (process.getExitCode(), 1u);
    EXPECT_TRUE (output.contains (damaged.getFile().getFullPathName())) << output;
    EXPECT_TRUE (output.contains ("offset 6: byte 0x92 with its top bit set inside the message starting at offset 4")) << output;
}

TEST (FirmwareImageTool, GeneratesAnImageItsOwnCheckAccepts)
{
    const auto tool = juce::File (QUILLET_TEST_BINARY_DIR).getChildFile ("tools/firmware-image/quillet-firmware-tool");
    juce::TemporaryFile image (".syx");

    juce::ChildProcess generate;
    ASSERT_TRUE (generate.start (juce::StringArray { tool.getFullPathName(), "generate", image.getFile().getFullPathName() }));
    generate.waitForProcessToFinish (60000);
    ASSERT_EQ (generate.getExitCode(), 0u);
    EXPECT_EQ (image.getFile().getSize(), 12'259'620);

    juce::ChildProcess check;
    ASSERT_TRUE (check.start (juce::StringArray { tool.getFullPathName(), "check", image.getFile().getFullPathName() }));
    EXPECT_TRUE (check.readAllProcessOutput().contains ("3065 messages"));
    ASSERT_TRUE (check.waitForProcessToFinish (60000));
    EXPECT_EQ (check.getExitCode(), 0u);
}

// End to end: a maintainer who points the build at a damaged image gets no program.
TEST (FirmwareImageTool, TheBuildStopsOnADamagedMaintainerImage)
{
    const auto work = juce::File::createTempFile ("damaged-image-build");
    ASSERT_TRUE (work.createDirectory());
    const auto image = work.getChildFile ("damaged.syx");
    const std::uint8_t bytes[] = { 0xf0, 0x00, 0x7f, 0xf7, 0x42, 0xf0, 0xf7 };
    ASSERT_TRUE (image.replaceWithData (bytes, sizeof (bytes)));

    const auto build = work.getChildFile ("build");
    juce::ChildProcess configure;
    ASSERT_TRUE (configure.start (juce::StringArray { QUILLET_CMAKE_COMMAND, "-S", QUILLET_TEST_SOURCE_DIR, "-B", build.getFullPathName(),
                                                      "-DQUILLET_BUILD_TESTS=OFF", "-DQUILLET_FIRMWARE_IMAGE=" + image.getFullPathName() }));
    const auto configureOutput = configure.readAllProcessOutput();
    ASSERT_TRUE (configure.waitForProcessToFinish (60000));
    ASSERT_EQ (configure.getExitCode(), 0u) << configureOutput;

    juce::ChildProcess make;
    ASSERT_TRUE (make.start (juce::StringArray { QUILLET_CMAKE_COMMAND, "--build", build.getFullPathName(), "--target", "quillet_firmware_image" }));
    const auto output = make.readAllProcessOutput();
    ASSERT_TRUE (make.waitForProcessToFinish (60000));
    EXPECT_NE (make.getExitCode(), 0u);
    EXPECT_TRUE (output.contains ("error: firmware image " + image.getFullPathName()
                                  + ": offset 4: expected 0xF0 to start a message after the previous 0xF7, found 0x42")) << output;

    work.deleteRecursively();
}
