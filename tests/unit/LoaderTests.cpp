// The VST loader: scanning once per path and process, the diagnostics on standard output, and
// picking a plugin by name.
#include "hosting/LoaderGlobals.h"
#include "hosting/VSTP2PluginLoader.h"
#include "support/FixtureFiles.h"
#include "support/StdoutCapture.h"

#include <gtest/gtest.h>

namespace
{
class Loader : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(liveVstLoaderCount, 0); }
    void TearDown() override
    {
        EXPECT_EQ(liveVstLoaderCount, 0);
        EXPECT_EQ(sharedVstFormat, nullptr);
    }

    FixtureFiles files;
};

int cachedEntriesFor(const juce::String& path)
{
    int count = 0;
    for (auto* description : scannedDescriptionCache)
        count += description->fileOrIdentifier == path ? 1 : 0;
    return count;
}

TEST_F(Loader, FirstLoadScansAndSecondLoadOfTheSamePathUsesTheCache)
{
    const auto path = files.freshCopy("PlainSynth");
    StdoutCapture first;
    {
        VSTP2PluginLoader loader;
        loader.setScanWorkerPath("ScanWorker64.exe");
        EXPECT_FALSE(loader.isUsingScanWorker());
        auto* instance = loader.createPluginInstance(path, "VST", {});
        ASSERT_NE(instance, nullptr);
        EXPECT_EQ(loader.getPluginInstance(), instance);
        EXPECT_EQ(loader.getPluginName(), "PlainSynth");
        EXPECT_EQ(loader.getPluginFile().getFullPathName(), path);
        EXPECT_EQ(instance->getTotalNumOutputChannels(), 2);
    }
    EXPECT_EQ(first.take(), "\nInitializing VSTPluginFormat"
                            "\nChecking is file/id was scanned already: " + path.toStdString()
                            + "\nFile was not loaded before, finding VST plugins types for:" + path.toStdString()
                            + "\n->found PluginDescriptions for: 1"
                              "\nTrying to create instance...OK"
                              "\n~VSTP2PluginLoader()"
                              "\ndeallocating plugin_instance"
                              "\ndeallocating VSTPluginFormat");
    EXPECT_EQ(cachedEntriesFor(path), 1);

    StdoutCapture second;
    {
        VSTP2PluginLoader loader;
        ASSERT_NE(loader.createPluginInstance(path, "VST", {}), nullptr);
    }
    const auto out = second.take();
    EXPECT_NE(out.find("\nChecking is file/id was scanned already: " + path.toStdString() + "\nAdding "
                       + path.toStdString() + "\nFile was already loaded before, PluginDescriptions previously stored: 1"
                       + "\nTrying to create instance...OK"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("not loaded before"), std::string::npos);
    EXPECT_EQ(cachedEntriesFor(path), 1); // nothing added by a cached load
}

TEST_F(Loader, ThePathIsTheCacheKeyCharacterForCharacter)
{
    const auto path = files.freshCopy("PlainSynth");
    const auto folder = juce::File(path).getParentDirectory().getFullPathName();
    const auto otherSpelling = folder + "/./" + juce::File(path).getFileName();
    {
        VSTP2PluginLoader loader;
        ASSERT_NE(loader.createPluginInstance(path, "VST", {}), nullptr);
    }

    StdoutCapture capture;
    {
        VSTP2PluginLoader loader;
        ASSERT_NE(loader.createPluginInstance(otherSpelling, "VST", {}), nullptr);
    }
    EXPECT_NE(capture.take().find("File was not loaded before"), std::string::npos);
    EXPECT_EQ(cachedEntriesFor(path), 1);
    EXPECT_EQ(cachedEntriesFor(otherSpelling), 1);
}

TEST_F(Loader, FilesWithoutAPluginGiveNoInstanceAndAreScannedAgain)
{
    for (const auto* name : { "NoEntryPoint", "NotAPlugin" })
    {
        const auto path = FixtureFiles::path(name);
        for (int attempt = 0; attempt < 2; ++attempt)
        {
            StdoutCapture capture;
            VSTP2PluginLoader loader;
            EXPECT_EQ(loader.createPluginInstance(path, "VST", {}), nullptr) << name;
            EXPECT_EQ(loader.getChosenDescription(), nullptr);
            const auto out = capture.take();
            EXPECT_NE(out.find("File was not loaded before"), std::string::npos) << name << " attempt " << attempt;
            EXPECT_NE(out.find("\n->found PluginDescriptions for: 0"), std::string::npos) << out;
        }
        EXPECT_EQ(cachedEntriesFor(path), 0) << name;
    }
}

TEST_F(Loader, NamedLoadTakesOnlyAPluginOfThatExactNameAndFormat)
{
    const auto path = FixtureFiles::path("PlainSynth");
    const struct
    {
        const char* format;
        const char* name;
        bool found;
    } cases[] = { { "VST", "PlainSynth", true }, { "VST", "plainsynth", false }, { "VST3", "PlainSynth", false },
                  { "VST", "Renamed", false } };

    for (const auto& c : cases)
    {
        VSTP2PluginLoader loader;
        auto* instance = loader.createPluginInstance(path, c.format, c.name);
        EXPECT_EQ(instance != nullptr, c.found) << c.format << " " << c.name;
        EXPECT_EQ(loader.getPluginName(), c.found ? juce::String(c.name) : juce::String());
    }
}

TEST_F(Loader, SecondCreateOnOneLoaderWarnsAndStartsOver)
{
    const auto path = FixtureFiles::path("PlainSynth");
    VSTP2PluginLoader loader;
    ASSERT_NE(loader.createPluginInstance(path, "VST", {}), nullptr);

    StdoutCapture capture;
    ASSERT_NE(loader.createPluginInstance(path, "VST", {}), nullptr);
    EXPECT_EQ(loader.findPluginDescriptions(juce::String()).size(), 1); // the old list was discarded
    EXPECT_EQ(capture.take().rfind("\nWarning! plugin_instance != NULL", 0), 0u);
}
} // namespace
