// The state document: its exact bytes, the round trip between two containers, the reading rules on
// documents that are short, reordered, repeated or broken, and restores from other threads.
#include "container/PluginContainerAudioProcessor.h"
#include "crashwatch/AudioProcessorState.h"
#include "hosting/EffectHandle.h"
#include "state/MemoryBlockBase64.h"
#include "state/ParameterValueText.h"
#include "state/StateDocumentReader.h"
#include "state/XmlDocumentText.h"
#include "support/ConsoleProbe.h"
#include "support/ContainerTestAccess.h"
#include "support/FakeInstrument.h"
#include "support/FixtureFiles.h"
#include "support/ScriptedLoadDialogs.h"
#include "support/StdoutCapture.h"
#include "support/WrapperDrive.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <thread>

namespace
{
using Processor = PluginContainerAudioProcessor;

constexpr Vst2::VstInt32 setUserDataOpcode = CCONST('P', 'S', 'u', 'd'); // PlainSynth's extra chunk bytes

/** A block's bytes (the framework's own comparison of two empty blocks compares null pointers). */
std::vector<unsigned char> bytesOf(const juce::MemoryBlock& block)
{
    const auto* data = static_cast<const unsigned char*>(block.getData());
    return block.isEmpty() ? std::vector<unsigned char>() : std::vector<unsigned char>(data, data + block.getSize());
}

juce::String textOf(const juce::MemoryBlock& block)
{
    return juce::String::fromUTF8(static_cast<const char*>(block.getData()), (int) block.getSize());
}

juce::MemoryBlock saveOf(Processor& container)
{
    juce::MemoryBlock block;
    container.getStateInformation(block);
    return block;
}

void restore(Processor& container, const juce::String& document)
{
    container.setStateInformation(document.toRawUTF8(), (int) document.getNumBytesAsUTF8());
}

void giveUserData(juce::AudioPluginInstance& instance, const juce::MemoryBlock& bytes)
{
    auto* effect = vstEffectOf(instance);
    ASSERT_EQ(effect->dispatcher(effect, Vst2::effVendorSpecific, setUserDataOpcode, (Vst2::VstIntPtr) bytes.getSize(),
                                 const_cast<void*>(bytes.getData()), 0.0f),
              1);
}

//==================================================================================================
// Encodings

TEST(StateEncoding, BlocksEncodeAsTheFrameworksBase64FormAndDecodeBack)
{
    const auto encode = [](const void* data, size_t size) {
        return memory_block_base64::encodeToString(juce::MemoryBlock(data, size));
    };
    EXPECT_EQ(encode("abc", 3), "3.gI1X");
    EXPECT_EQ(encode("", 0), "0.");
    EXPECT_EQ(encode("\0", 1), "1...");

    std::mt19937 random(7);
    for (size_t size : { 1u, 2u, 3u, 4u, 5u, 63u, 64u, 65u, 1000u, 4097u })
    {
        juce::MemoryBlock block(size);
        for (size_t i = 0; i < size; ++i)
            block[i] = (char) (random() & 0xff);

        const auto ours = memory_block_base64::encodeToString(block);
        EXPECT_EQ(ours, block.toBase64Encoding()) << size;

        juce::MemoryBlock decoded;
        ASSERT_TRUE(memory_block_base64::decode(ours.toRawUTF8(), ours.getNumBytesAsUTF8(), decoded));
        EXPECT_EQ(bytesOf(decoded), bytesOf(block)) << size;
    }
}

TEST(StateEncoding, DecodingReadsDamagedTextAsTheFrameworkDoesButRefusesImpossibleCounts)
{
    // Characters out of range are skipped, those in range but not in the alphabet count as zero,
    // bits beyond the count are dropped, missing ones are zero.
    for (const char* text : { "3.gI1X", "3.g I1\nX", "3.g,I1X", "5.gI1X", "2.gI1Xzzzz", "4.gI", "0.", "1.", "007.abc" })
    {
        juce::MemoryBlock theirs, ours;
        theirs.fromBase64Encoding(text);
        ASSERT_TRUE(memory_block_base64::decode(text, std::strlen(text), ours)) << text;
        EXPECT_EQ(bytesOf(ours), bytesOf(theirs)) << text;
    }

    juce::MemoryBlock block("x", 1);
    for (const char* text : { "no dot here", "-1.abc", "2000000000.abc" })
    {
        EXPECT_FALSE(memory_block_base64::decode(text, std::strlen(text), block)) << text;
        EXPECT_TRUE(block.isEmpty()) << text;
    }
}

TEST(StateEncoding, ParameterValuesAreWrittenWithTwentySignificantDigits)
{
    EXPECT_EQ(parameterValueText(0.5f), "0.5");
    EXPECT_EQ(parameterValueText(0.1f), "0.10000000149011611938");
    EXPECT_EQ(parameterValueText(1.0f), "1");
    EXPECT_EQ(parameterValueText(0.0f), "0");
    EXPECT_EQ(parameterValueText(0.00001f), "9.9999997473787516356e-06");
    EXPECT_EQ((float) parameterValueText(0.1f).getDoubleValue(), 0.1f); // reads back as the same float
}

/** Random element trees written by our writer and by the framework's must be the same bytes. */
TEST(StateEncoding, DocumentTextMatchesTheFrameworksWriterByteForByte)
{
    std::mt19937 random(99);
    const juce::String pieces[] = { "a", "PluginPendulum", "x y", "\"q\"", "<&>", "tab\there", "new\nline", "ü", "✓",
                                    "C:\\Plugins\\Synth.dll", "0123456789", "'", "`^", "" };

    for (int round = 0; round < 200; ++round)
    {
        juce::XmlElement root("pluginData");
        juce::MemoryBlock ours;
        XmlDocumentText writer(ours, 0);
        writer.beginElement("pluginData");
        writer.openChildren();

        const int numChildren = 1 + (int) (random() % 3);
        for (int c = 0; c < numChildren; ++c)
        {
            const auto name = c == 0 ? juce::String("main_plugin") : juce::String("plugin");
            auto* child = root.createNewChildElement(name);
            writer.beginElement(name.toRawUTF8());

            const int numAttributes = (int) (random() % 14);
            for (int a = 0; a < numAttributes; ++a)
            {
                juce::String value;
                const int numPieces = (int) (random() % 6);
                for (int p = 0; p < numPieces; ++p)
                    value += pieces[random() % std::size(pieces)];
                const auto attributeName = "attr" + juce::String(a);
                child->setAttribute(attributeName, value);
                writer.attribute(attributeName.toRawUTF8(), value);
            }

            if (random() % 2 == 0)
            {
                auto* grandChild = child->createNewChildElement("f_parameters");
                writer.openChildren();
                writer.beginElement("f_parameters");
                for (int p = 0; p < (int) (random() % 30); ++p)
                {
                    const auto value = parameterValueText((float) (random() % 1000) / 999.0f);
                    grandChild->setAttribute("param" + juce::String(p), value);
                    writer.attribute(("param" + juce::String(p)).toRawUTF8(), value);
                }
                writer.endEmptyElement();
                writer.closeElement();
            }
            else
            {
                writer.endEmptyElement();
            }
        }
        writer.closeElement();
        writer.finish();

        JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
        const auto theirs = root.createDocument({}, false, true, "UTF-8", 60);
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE
        ASSERT_EQ(textOf(ours), theirs) << "round " << round;
    }
}

/** Whether two readings of a document are the same tree. */
::testing::AssertionResult sameTree(const DocumentElement& a, const DocumentElement& b)
{
    if (a.name != b.name)
        return ::testing::AssertionFailure() << "names " << a.name << " / " << b.name;
    if (a.attributes.size() != b.attributes.size() || a.children.size() != b.children.size())
        return ::testing::AssertionFailure() << "counts differ in " << a.name;
    for (size_t i = 0; i < a.attributes.size(); ++i)
        if (a.attributes[i].name != b.attributes[i].name || a.attributes[i].text() != b.attributes[i].text())
            return ::testing::AssertionFailure() << "attribute " << a.attributes[i].name << " of " << a.name;
    for (size_t i = 0; i < a.children.size(); ++i)
        if (auto same = sameTree(a.children[i], b.children[i]); !same)
            return same;
    return ::testing::AssertionSuccess();
}

void convert(const juce::XmlElement& from, DocumentElement& to)
{
    to.name = from.getTagName();
    for (int i = 0; i < from.getNumAttributes(); ++i)
        to.attributes.push_back({ from.getAttributeName(i), from.getAttributeValue(i) });
    for (auto* child : from.getChildIterator())
    {
        to.children.emplace_back();
        convert(*child, to.children.back());
    }
}

/** The tree the framework's parser makes of a text (ASCII here), up to its first zero byte. */
std::optional<DocumentElement> readStateDocumentWithFramework(const char* text, size_t size)
{
    const auto* zero = static_cast<const char*>(std::memchr(text, 0, size));
    const auto length = zero != nullptr ? (size_t) (zero - text) : size;
    auto root = juce::XmlDocument::parse(juce::String::fromUTF8(text, (int) length));
    if (root == nullptr)
        return std::nullopt;

    DocumentElement converted;
    convert(*root, converted);
    return converted;
}

/** Whatever our reader reads, the framework's parser reads as the same tree. */
TEST(StateEncoding, TheDocumentReaderReadsWhatTheFrameworksParserReads)
{
    const std::string written = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<pluginData>\r\n"
                                "  <main_plugin activePlugin=\"1\" optionB0=\"0\" instanceName=\"a &amp; b &lt;&gt; &quot;q&quot; &#10; &#252;&#x2713;\"/>\r\n"
                                "  <plugin:x index=\"0\" filePath=\"/p/S.so\" binData=\"" + std::string(600, 'A') + "\">\r\n"
                                "    <f_parameters param0=\"0.5\" param1=\"1e-5\"/>\r\n  </plugin:x>\r\n</pluginData>\r\n";
    std::vector<std::string> documents {
        written,
        "<a b='single' c=\"d\"/>",
        "<a><!-- note --><b/>text<![CDATA[x]]></a>",
        "<a b=\"&AMP;&#X41;&#0065;&unknown;\"/>",
        "<a b=\"1\"c=\"2\"/>",
        "<a></b>",
        "<a b=\"x<y\"/>",
        "",
        "<a/>trailing",
    };

    // And many damaged copies of the written one.
    std::mt19937 random(5);
    for (int i = 0; i < 400; ++i)
    {
        auto damaged = written;
        for (int edits = 1 + (int) (random() % 3); edits > 0; --edits)
        {
            const auto at = random() % damaged.size();
            const char pool[] = "<>/\"'&;=: #x\n\0aZ9";
            switch (random() % 3)
            {
            case 0: damaged[at] = pool[random() % (sizeof(pool) - 1)]; break;
            case 1: damaged.erase(at, 1 + random() % 8); break;
            default: damaged.insert(at, 1, pool[random() % (sizeof(pool) - 1)]); break;
            }
        }
        documents.push_back(damaged);
    }

    int bothRead = 0;
    for (const auto& text : documents)
    {
        const auto ours = readStateDocument(text.data(), text.size());
        if (!ours.has_value())
            continue;
        const auto theirs = readStateDocumentWithFramework(text.data(), text.size());
        ASSERT_TRUE(theirs.has_value()) << text;
        EXPECT_TRUE(sameTree(*ours, *theirs)) << text;
        ++bothRead;
    }
    EXPECT_GT(bothRead, 50);
    EXPECT_FALSE(readStateDocument(documents[1].data(), documents[1].size()).has_value()); // single quotes
    EXPECT_FALSE(readStateDocument(documents[2].data(), documents[2].size()).has_value()); // comments, text

    // The raw base-64 value is read in place, without a copy.
    const auto tree = readStateDocument(written.data(), written.size());
    ASSERT_TRUE(tree.has_value());
    const auto& binData = tree->children[1].attributes[2];
    EXPECT_EQ(binData.name, "binData");
    EXPECT_GE(binData.bytes(), written.data());
    EXPECT_LT(binData.bytes(), written.data() + written.size());
}

TEST(StateEncoding, MalformedUtf8IsReadAsReplacementCharactersNotPastTheEnd)
{
    // Lead bytes of sequences longer than UTF-8 allows (found by the fuzzer): the framework's
    // reader stepped past the end of such text.
    std::string text = "<?xml version=\"1.0\" ";
    text += std::string(60, '\xf9');
    text += "?><a b=\"x\xc3\" c=\"\xe2\x82\"/>";
    const auto withTrailingByte = text + "\xf9";
    EXPECT_FALSE(readStateDocument(withTrailingByte.data(), withTrailingByte.size()).has_value());
    const auto tree = readStateDocument(text.data(), text.size());
    ASSERT_TRUE(tree.has_value());
    ASSERT_EQ(tree->attributes.size(), 2u);
    EXPECT_EQ(tree->attributes[0].text(), juce::String::fromUTF8("x\xef\xbf\xbd"));
    EXPECT_EQ(tree->attributes[1].text(), juce::String::fromUTF8("\xef\xbf\xbd\xef\xbf\xbd"));
}

TEST(StateEncoding, DeeplyNestedDocumentsAreRefusedInsteadOfExhaustingTheStack)
{
    std::string deep;
    for (int i = 0; i < 200000; ++i)
        deep += "<a>";
    EXPECT_FALSE(readStateDocument(deep.data(), deep.size()).has_value());
}

//==================================================================================================
// The writer

/** The synth of the worked example: two parameters, programs, a three-byte state block. */
class ExampleInstrument : public FakeInstrument
{
public:
    ExampleInstrument() : FakeInstrument(1, 2, 2)
    {
        getParameters()[0]->setValue(0.5f);
        getParameters()[1]->setValue(0.1f);
    }
    const juce::String getName() const override { return "ExampleSynth"; }
    int getNumPrograms() override { return 4; }
    void getStateInformation(juce::MemoryBlock& block) override { block.append("abc", 3); }
};

class StateDocument : public ::testing::Test
{
protected:
    void SetUp() override { consoleEnabled = false; }
    void TearDown() override
    {
        containers.clear();
        consoleEnabled = false;
    }

    Processor& makeContainer()
    {
        containers.push_back(std::make_unique<Processor>());
        containers.back()->setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
        return *containers.back();
    }

    DialogScript script;

    std::vector<std::unique_ptr<Processor>> containers;
};

TEST_F(StateDocument, TheWorkedExampleComesOutByteForByte)
{
    auto& container = makeContainer();
#if defined(_WIN32)
    const juce::String path = "D:\\Plugins\\ExampleSynth.dll";
#else
    const juce::String path = "/Plugins/ExampleSynth.so";
#endif
    PluginContainerTestAccess::install(container, 0, std::make_unique<ExampleInstrument>(), juce::File(path));

    // The framework's own writer, given the tree as the format describes it, is the reference.
    juce::XmlElement root("pluginData");
    auto* main = root.createNewChildElement("main_plugin");
    for (auto [name, value] : { std::pair { "activePlugin", "0" }, { "optionB0", "0" }, { "optionB1", "0" },
                                { "optionB2", "1" }, { "optionB3", "1" }, { "instanceName", "default instance" },
                                { "windowName", "PluginPendulum console" }, { "x", "-1" }, { "y", "-1" }, { "w", "-1" },
                                { "h", "-1" } })
        main->setAttribute(name, value);
    auto* plugin = root.createNewChildElement("plugin");
    for (auto [name, value] : { std::pair<const char*, juce::String> { "index", "0" }, { "filePath", path },
                                { "numInputs", "0" }, { "numOutputs", "2" }, { "name", "ExampleSynth" },
                                { "numParams", "2" }, { "currentProgram", "0" }, { "loadedPluginName", "ExampleSynth" },
                                { "binDataSize", "3" }, { "binData", "3.gI1X" } })
        plugin->setAttribute(name, value);
    auto* parameters = plugin->createNewChildElement("f_parameters");
    parameters->setAttribute("param0", "0.5");
    parameters->setAttribute("param1", "0.10000000149011611938");

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
    const auto expected = root.createDocument({}, false, true, "UTF-8", 60);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    const auto saved = textOf(saveOf(container));
    EXPECT_EQ(saved, expected);
    EXPECT_TRUE(saved.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<pluginData>\r\n  <main_plugin"));
    EXPECT_TRUE(saved.contains(" binData=\"3.gI1X\">"));
    EXPECT_TRUE(saved.contains(" param1=\"0.10000000149011611938\"/>"));
}

TEST_F(StateDocument, SaveLogsItsStepsAndTakesFreshSnapshots)
{
    consoleEnabled = true;
    auto& container = makeContainer();
    ASSERT_TRUE(container.loadPlugin(1, FixtureFiles::path("PlainSynth"), {}));
    const auto linesBefore = console_probe::lines().size();

    const auto saved = saveOf(container);
    auto lines = console_probe::lines();
    lines.removeRange(0, linesBefore);

    const auto stateSize = container.getRecoveryState(1)->stateData.getSize();
    const juce::StringArray expected { "default instance:getStateInformation",
                                       "binary data size: " + juce::String((int) stateSize),
                                       "default instance:bytes: " + juce::String((int) saved.getSize()),
                                       "default instance:ChildElements: 2",
                                       "default instance:destData bytes: " + juce::String((int) saved.getSize()) };
    EXPECT_EQ(lines, expected);

    // Every save replaces the snapshot with what the plugin holds then.
    EXPECT_FLOAT_EQ(container.getRecoveryState(1)->parameterValues[2], 0.1f);
    container.getPluginInstance(1)->getParameters()[2]->setValue(0.875f);
    saveOf(container);
    EXPECT_FLOAT_EQ(container.getRecoveryState(1)->parameterValues[2], 0.875f);
    EXPECT_EQ(container.getRecoveryState(0), nullptr);
}

TEST_F(StateDocument, ADocumentWrittenByOneContainerRebuildsAnother)
{
    auto& source = makeContainer();

    // A plugin file and an instance name outside ASCII.
    FixtureFiles files;
    const auto folder = juce::File(files.freshCopy("PlainSynth")).getParentDirectory();
    const auto unusual = folder.getChildFile(juce::String::fromUTF8("Bühne ✓ Klänge"));
    ASSERT_TRUE(unusual.createDirectory());
    const auto plainPath = unusual.getChildFile(juce::File(FixtureFiles::path("PlainSynth")).getFileName());
    ASSERT_TRUE(juce::File(FixtureFiles::path("PlainSynth")).copyFileTo(plainPath));

    ASSERT_TRUE(source.loadPlugin(0, plainPath.getFullPathName(), {}));
    ASSERT_TRUE(source.loadPlugin(1, FixtureFiles::path("CrashPlainSynth"), {}));
    ASSERT_TRUE(source.setActivePlugin(1));
    source.setOption(Processor::optionAutoCrashRecovery, true);
    source.setOption(Processor::optionAutoSwitch, false);
    source.setOption(Processor::optionReloadCrashedPluginData, false);
    source.setInstanceName(juce::String::fromUTF8("Bühne links \"A\" <&>"));

    auto& plain = *source.getPluginInstance(0);
    plain.setCurrentProgram(2);
    plain.getParameters()[1]->setValue(0.1f);
    plain.getParameters()[3]->setValue(0.3333f);
    const char zeros[] = { 0, 'x', 0, 0, 'y', 0 };
    giveUserData(plain, juce::MemoryBlock(zeros, sizeof(zeros)));
    source.getPluginInstance(1)->getParameters()[0]->setValue(0.25f);

    const auto saved = saveOf(source);

    auto& target = makeContainer();
    ASSERT_TRUE(target.loadPlugin(0, FixtureFiles::path("WideSynth"), {})); // replaced by the restore
    target.setStateInformation(saved.getData(), (int) saved.getSize());

    EXPECT_EQ(target.getActivePluginIndex(), 1);
    EXPECT_TRUE(target.getOption(Processor::optionAutoCrashRecovery));
    EXPECT_FALSE(target.getOption(Processor::optionAutoSwitch));
    EXPECT_FALSE(target.getOption(Processor::optionReloadCrashedPluginData));
    EXPECT_EQ(target.getInstanceName(), source.getInstanceName());
    EXPECT_EQ(target.getLoadedPluginName(0), "PlainSynth");
    EXPECT_EQ(target.getLoadedPluginName(1), "CrashPlainSynth");
    EXPECT_EQ(target.getPluginInstance(0)->getCurrentProgram(), 2);
    EXPECT_FLOAT_EQ(target.getPluginInstance(0)->getParameters()[1]->getValue(), 0.1f);
    EXPECT_FLOAT_EQ(target.getPluginInstance(0)->getParameters()[3]->getValue(), 0.3333f);
    EXPECT_FLOAT_EQ(target.getPluginInstance(1)->getParameters()[0]->getValue(), 0.25f);

    juce::MemoryBlock a, b;
    source.getPluginInstance(0)->getStateInformation(a);
    target.getPluginInstance(0)->getStateInformation(b);
    EXPECT_EQ(a, b); // the state block, zero bytes included

    // Restored slots get fresh snapshots of what was applied.
    ASSERT_NE(target.getRecoveryState(0), nullptr);
    EXPECT_EQ(target.getRecoveryState(0)->stateData, b);
    EXPECT_EQ(target.getRecoveryState(0)->programIndex, 2);

    // And the restored container writes the same document.
    EXPECT_EQ(textOf(saveOf(target)), textOf(saved));
}

//==================================================================================================
// The reading rules

struct ReadingCase
{
    const char* what;
    const char* document; // {PLAIN} and {WIDE} stand for fixture paths
    std::function<void(Processor&)> check;
};

// The case prints as its name, which keeps the registered test names readable and stable.
void PrintTo(const ReadingCase& c, std::ostream* os)
{
    *os << c.what;
}

class ReadingRules : public StateDocument, public ::testing::WithParamInterface<ReadingCase>
{
};

TEST_P(ReadingRules, DocumentsThatDifferFromTheWritersAreReadAsTheRulesSay)
{
    const auto& c = GetParam();
    auto& container = makeContainer();

    // Before: both slots loaded, slot 1 active, non-default options and name.
    ASSERT_TRUE(container.loadPlugin(0, FixtureFiles::path("PlainSynth"), {}));
    ASSERT_TRUE(container.loadPlugin(1, FixtureFiles::path("CrashPlainSynth"), {}));
    ASSERT_TRUE(container.setActivePlugin(1));
    container.setOption(Processor::optionAutoCrashRecovery, true);
    container.setInstanceName("before");

    auto document = juce::String(c.document)
                        .replace("{PLAIN}", FixtureFiles::path("PlainSynth"))
                        .replace("{WIDE}", FixtureFiles::path("WideSynth"));
    restore(container, document);
    c.check(container);

    // Whatever the document was, the container stays usable.
    EXPECT_TRUE(container.loadPlugin(0, FixtureFiles::path("PlainSynth"), {}));
    EXPECT_TRUE(container.setActivePlugin(0));
    juce::AudioBuffer<float> buffer(2, 128);
    juce::MidiBuffer midi;
    midi.addEvent(juce::MidiMessage::noteOn(1, 69, (juce::uint8) 100), 0);
    container.prepareToPlay(44100.0, 128);
    processLikeWrapper(container, buffer, midi);
    EXPECT_GT(buffer.getMagnitude(0, 0, 128), 0.01f);
}

INSTANTIATE_TEST_SUITE_P(
    StateDocument, ReadingRules,
    ::testing::Values(
        ReadingCase { "only main_plugin: options, name and active slot applied, slots emptied",
                      R"(<pluginData><main_plugin activePlugin="0" optionB0="0" optionB1="0" optionB2="0" optionB3="1" instanceName="after"/></pluginData>)",
                      [](Processor& c) {
                          EXPECT_EQ(c.getActivePluginIndex(), 0);
                          EXPECT_FALSE(c.getOption(1));
                          EXPECT_FALSE(c.getOption(2));
                          EXPECT_EQ(c.getInstanceName(), "after");
                          EXPECT_EQ(c.getPluginInstance(0), nullptr);
                          EXPECT_EQ(c.getPluginInstance(1), nullptr);
                      } },
        ReadingCase { "no main_plugin: options, name and active slot kept, unnamed slot emptied",
                      R"(<pluginData><plugin index="0" filePath="{WIDE}"/></pluginData>)",
                      [](Processor& c) {
                          EXPECT_EQ(c.getActivePluginIndex(), 1);
                          EXPECT_TRUE(c.getOption(1));
                          EXPECT_EQ(c.getInstanceName(), "before");
                          EXPECT_EQ(c.getLoadedPluginName(0), "WideSynth");
                          EXPECT_EQ(c.getPluginInstance(1), nullptr);
                      } },
        ReadingCase { "short main_plugin: missing options read as 0, name kept",
                      R"(<pluginData><main_plugin a="1" b="1"/></pluginData>)",
                      [](Processor& c) {
                          EXPECT_EQ(c.getActivePluginIndex(), 1);
                          EXPECT_TRUE(c.getOption(0));
                          EXPECT_FALSE(c.getOption(1));
                          EXPECT_FALSE(c.getOption(3));
                          EXPECT_EQ(c.getInstanceName(), "before");
                          c.setOption(0, false);
                      } },
        ReadingCase { "attributes of plugin in another order, names with a prefix, unknown children",
                      R"(<pluginData><other/><main_plugin:x activePlugin="1" o0="0" o1="0" o2="1" o3="1" n="x"/><unknown index="0"/><plugin:y loadedPluginName="" binData="0." binDataSize="9" index="1" filePath="{PLAIN}"><f_parameters zz="0.125" aa="0.5"/></plugin:y></pluginData>)",
                      [](Processor& c) {
                          EXPECT_EQ(c.getInstanceName(), "x");
                          EXPECT_EQ(c.getPluginInstance(0), nullptr);
                          EXPECT_EQ(c.getLoadedPluginName(1), "PlainSynth");
                          EXPECT_FLOAT_EQ(c.getPluginInstance(1)->getParameters()[0]->getValue(), 0.125f);
                          EXPECT_FLOAT_EQ(c.getPluginInstance(1)->getParameters()[1]->getValue(), 0.5f);
                      } },
        ReadingCase { "two plugin elements for one slot: the second wins",
                      R"(<pluginData><plugin index="0" filePath="{PLAIN}"/><plugin index="0" filePath="{WIDE}"/></pluginData>)",
                      [](Processor& c) {
                          EXPECT_EQ(c.getLoadedPluginName(0), "WideSynth");
                          EXPECT_EQ(c.getPluginInstance(1), nullptr);
                      } },
        ReadingCase { "slot numbers the container does not have are ignored",
                      R"(<pluginData><main_plugin activePlugin="7" b0="0" b1="1" b2="1" b3="1"/><plugin index="5" filePath="{PLAIN}"/><plugin index="-1" filePath="{PLAIN}"/><plugin filePath="{PLAIN}"/></pluginData>)",
                      [](Processor& c) {
                          EXPECT_EQ(c.getActivePluginIndex(), 1);
                          EXPECT_EQ(c.getPluginInstance(0), nullptr);
                          EXPECT_EQ(c.getPluginInstance(1), nullptr);
                      } },
        ReadingCase { "a block that does not parse leaves the container untouched",
                      R"(<pluginData><main_plugin activePlugin="0" optionB0=)",
                      [](Processor& c) {
                          EXPECT_EQ(c.getActivePluginIndex(), 1);
                          EXPECT_EQ(c.getInstanceName(), "before");
                          EXPECT_EQ(c.getLoadedPluginName(0), "PlainSynth");
                          EXPECT_EQ(c.getLoadedPluginName(1), "CrashPlainSynth");
                      } },
        ReadingCase { "a state block with an impossible size is not given to the plugin",
                      R"(<pluginData><plugin index="0" filePath="{PLAIN}" binData="-5.abcd" currentProgram="1"/></pluginData>)",
                      [](Processor& c) {
                          EXPECT_EQ(c.getLoadedPluginName(0), "PlainSynth");
                          EXPECT_EQ(c.getPluginInstance(0)->getCurrentProgram(), 1);
                      } }),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_F(StateDocument, OnlyTheFirstRestoreAfterASaveMovesTheConsole)
{
    consoleEnabled = true;
    auto& container = makeContainer();
    const auto placed = [](int x) {
        return "<pluginData><main_plugin activePlugin=\"0\" optionB0=\"1\" optionB1=\"0\" optionB2=\"1\" optionB3=\"1\" "
               "instanceName=\"n\" windowName=\"Placed\" x=\""
             + juce::String(x) + "\" y=\"60\" w=\"500\" h=\"300\"/></pluginData>";
    };

    saveOf(container); // clears the flag left by any earlier test
    restore(container, placed(40));
    EXPECT_EQ(debugConsole->getTitle(), "Placed");
    EXPECT_EQ(debugConsole->getX(), 40);

    restore(container, placed(80));
    EXPECT_EQ(debugConsole->getX(), 40);

    saveOf(container);
    restore(container, placed(80));
    EXPECT_EQ(debugConsole->getX(), 80);
    container.setOption(0, false);
}

//==================================================================================================
// Restores from another thread, and before the host's first resume

TEST_F(StateDocument, ARestoreFromAnotherThreadRunsOnTheMessageThreadAndSavesGiveItBackMeanwhile)
{
    auto& source = makeContainer();
    ASSERT_TRUE(source.loadPlugin(0, FixtureFiles::path("PlainSynth"), {}));
    source.getPluginInstance(0)->getParameters()[2]->setValue(0.625f);
    const auto saved = saveOf(source);

    auto& target = makeContainer(); // never prepared: the host restores before its first resume
    juce::MemoryBlock echoed;
    std::thread host([&] {
        target.setStateInformation(saved.getData(), (int) saved.getSize());
        target.getStateInformation(echoed);
    });
    host.join();

    EXPECT_TRUE(target.isRestorePending());
    EXPECT_EQ(echoed, saved);
    EXPECT_EQ(target.getPluginInstance(0), nullptr);

    const auto start = juce::Time::getMillisecondCounter();
    while (target.isRestorePending() && juce::Time::getMillisecondCounter() - start < 5000)
        console_probe::pumpMessages(10);

    ASSERT_FALSE(target.isRestorePending());
    ASSERT_NE(target.getPluginInstance(0), nullptr);
    EXPECT_FLOAT_EQ(target.getPluginInstance(0)->getParameters()[2]->getValue(), 0.625f);

    // The host's first resume then prepares it at the host's values.
    std::thread resume([&] { target.prepareToPlay(48000.0, 300); });
    resume.join();
    EXPECT_EQ(target.getPluginInstance(0)->getSampleRate(), 48000.0);
    EXPECT_EQ(target.getPluginInstance(0)->getBlockSize(), 300);
    EXPECT_EQ(textOf(saveOf(target)), textOf(saved));
}

TEST_F(StateDocument, TheLatestDocumentWins)
{
    auto& source = makeContainer();
    ASSERT_TRUE(source.loadPlugin(0, FixtureFiles::path("PlainSynth"), {}));
    const auto withPlain = saveOf(source);
    ASSERT_TRUE(source.loadPlugin(0, FixtureFiles::path("WideSynth"), {}));
    const auto withWide = saveOf(source);

    auto& target = makeContainer();
    std::thread host([&] {
        target.setStateInformation(withPlain.getData(), (int) withPlain.getSize());
        target.setStateInformation(withWide.getData(), (int) withWide.getSize());
    });
    host.join();
    console_probe::pumpMessages(300);
    EXPECT_EQ(target.getLoadedPluginName(0), "WideSynth");

    // One handed over, then one given on the message thread: the later one stays.
    std::thread again([&] { target.setStateInformation(withPlain.getData(), (int) withPlain.getSize()); });
    again.join();
    target.setStateInformation(withWide.getData(), (int) withWide.getSize());
    console_probe::pumpMessages(300);
    EXPECT_EQ(target.getLoadedPluginName(0), "WideSynth");
    EXPECT_FALSE(target.isRestorePending());
}
} // namespace
