// Corrupted arguments of every method of a content, as a session delivers them (byte buffers
// that end at a guard page): to the owner's copy, to a synchronised replica and to a replica
// still waiting for its synchronisation. All live, keep at most the speaker limit, and a new
// content still installs afterwards. Deterministic: the seed is printed.
#include "ContentFiles.h"
#include "ContentFixtures.h"
#include "GuardedBlock.h"
#include "PayloadCorrupter.h"

#include <cstdio>
#include <memory>
#include <random>

namespace {

const unsigned SEED = 20261211;
const int CASES = 100000;
const int CHECK_EVERY = 2000;
// A fresh unsynchronised replica this often, so that its first icon blocks are taken again.
const int FRESH_EVERY = 500;
const DWORD TIME_LIMIT_MS = 480000;

typedef std::vector<unsigned char> Bytes;

const std::string SDS = "_SPEAKER_DESC_SEP_";
const std::string DATA_SEP = "_SPEAKER_DATA_SEP_";

Bytes textBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::vector<size_t> occurrences(const std::string& text, const std::string& piece)
{
    std::vector<size_t> found;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size()))
        found.push_back(at);
    return found;
}

// Breaks a text the way the content's readers must survive: its separators cut inside, repeated
// or moved, a number made huge or negative, its length pushed just past a limit; else noise.
class TextCorrupter {
public:
    TextCorrupter(unsigned seed, const std::vector<std::string>& bases)
        : random_(seed), noise_(seed + 7, bytesOf(bases)), bases_(bases)
    {
    }

    Bytes next()
    {
        if (random_() % 3 == 0)
            return noise_.next();
        std::string text = bases_[random_() % bases_.size()];
        for (unsigned n = 1 + random_() % 2; n > 0; --n)
            text = corrupt(text);
        return textBytes(text);
    }

private:
    static std::vector<Bytes> bytesOf(const std::vector<std::string>& bases)
    {
        std::vector<Bytes> bytes;
        for (const std::string& base : bases)
            bytes.push_back(textBytes(base));
        return bytes;
    }

    std::string corrupt(std::string text)
    {
        static const std::string separators[] = {SDS, DATA_SEP, " ", "*REPORT_SEP*"};
        static const std::string numbers[] = {"-1", "-2147483649", "99999999999999999999", "4294967296", "0", "+"};
        const std::string& separator = separators[random_() % 4];
        std::vector<size_t> at = occurrences(text, separator);
        switch (random_() % 6) {
        case 0: // a separator cut inside
            if (!at.empty() && separator.size() > 1)
                text.erase(at[random_() % at.size()] + 1 + random_() % (separator.size() - 1), 1);
            break;
        case 1: // a separator repeated
            if (!at.empty())
                text.insert(at[random_() % at.size()], std::string(separator).append(random_() % 2 ? separator : ""));
            break;
        case 2: // a separator moved
            if (!at.empty()) {
                text.erase(at[random_() % at.size()], separator.size());
                text.insert(random_() % (text.size() + 1), separator);
            }
            break;
        case 3: { // a number replaced
            size_t digit = text.find_first_of("0123456789");
            const std::string& number = numbers[random_() % 6];
            if (digit == std::string::npos)
                text = number + " " + text;
            else
                text.replace(digit, text.find_first_not_of("0123456789", digit) - digit, number);
            break;
        }
        case 4: { // just past a limit, or just within
            static const size_t lengths[] = {CContent::SPEAKER_DATA_LIMIT, CContent::SPEECH_LIMIT};
            size_t length = lengths[random_() % 2] + random_() % 3 - 1;
            text.resize(length, 'x');
            break;
        }
        default: // separators only
            text.clear();
            for (unsigned n = random_() % 5; n > 0; --n)
                text += separators[random_() % 4];
            break;
        }
        return text;
    }

    std::mt19937 random_;
    PayloadCorrupter noise_;
    std::vector<std::string> bases_;
};

struct Method {
    const char* name;
    std::vector<std::string> texts; // text bases
    std::vector<Bytes> blocks;      // byte bases (the icon methods)
};

Bytes pattern(size_t length)
{
    Bytes bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<unsigned char>(i * 31 + 7);
    return bytes;
}

void deliver(CContent& content, const char* method, const GuardedBlock& block, const std::string& caller)
{
    content.setCallerTerminal(&caller);
    content.executeMethodBuf(method, block.size(), block.data());
    content.setCallerTerminal(nullptr);
}

class ContentRobustness : public ContentSessionTest {
};

TEST_F(ContentRobustness, CorruptedArgumentsLeaveEveryCopySound)
{
    printf("seed %u\n", SEED);
    StageTerminal& host = session.host();
    StageTerminal& a = session.join("A");
    std::string key = install(host, ContentFiles::programWithIcon(dir.path(), "robust.exe"));
    ASSERT_TRUE(waitUntil([&] { return contentOn(a, key) != nullptr && contentOn(a, key)->isSynchronized(); }));
    // From here on the two copies hear only the test: what one sends reaches nobody, so no
    // handler thread runs beside the deliveries.
    session.hub.cut("A");
    CContent& master = *contentOn(host, key);
    CContent& slave = *contentOn(a, key);
    std::unique_ptr<CContent> fresh;

    std::string speakers3 = "A" + DATA_SEP + "1" + DATA_SEP + "ann" + SDS + "B" + DATA_SEP + "2" + DATA_SEP + "bo" + SDS
                            + "HOST" + DATA_SEP + "0" + DATA_SEP + "host";
    std::string speakers300;
    for (int i = 0; i < 300; ++i)
        speakers300 += (i ? SDS : "") + "T" + std::to_string(i) + DATA_SEP + std::to_string(i) + DATA_SEP + "n";
    const std::vector<std::string> reports = {"0*JOB_DESC_SEP_SEP*X*JOB_DESC_SEP_SEP*LOC_onFileCopied*REPORT_SEP*C:\\t"
                                              "*REPORT_SEP*1",
                                              "job-7 1 C:\\tmp\\recv.dat"};
    std::vector<Bytes> images;
    for (int bits : {1, 4, 8, 16, 24, 32})
        images.push_back(pattern(static_cast<size_t>(CContent::iconImageLength(bits))));
    const std::vector<Method> methods = {
        {"INS_initIconImageData", {}, images},
        {"INS_initIconMaskData", {}, {pattern(128), pattern(127), pattern(512)}},
        {"INS_initIconBitsPerPixel", {"1", "4", "8", "16", "24", "32", "7"}, {}},
        {"INS_initSDL", {speakers3, speakers300, ""}, {}},
        {"LOC_startFileCopy", {"C:\\Users\\me\\Desktop\\robust.exe"}, {}},
        {"LOC_startFileCopyForExec", {"C:\\tmp\\robust.exe"}, {}},
        {"REQ_startFileTransmit", {"job-7"}, {}},
        {"LOC_onFileCopied", reports, {}},
        {"LOC_onFileReceived", reports, {}},
        {"INS_cancelFileTransmit", {"job-7"}, {}},
        {"LOC_postSpeech", {"a b  c", "", "line"}, {}},
        {"COP_addSpeaker", {"A" + DATA_SEP + "1" + DATA_SEP + "ann", "Q" + DATA_SEP + "99" + DATA_SEP + SDS}, {}},
        {"REQ_addSpeech", {"B 2 a b  c", "HOST 0 ", "A 1 x y"}, {}},
        {"INS_addSpeech", {"B 2 a b  c", "HOST 0 ", "A 1 x y"}, {}},
        {"INS_notifyFileTransmit", {"job-7"}, {}},
    };
    std::vector<std::unique_ptr<TextCorrupter>> texts;
    std::vector<std::unique_ptr<PayloadCorrupter>> blocks;
    for (size_t m = 0; m < methods.size(); ++m) {
        unsigned seed = SEED + static_cast<unsigned>(m) * 13;
        texts.emplace_back(methods[m].texts.empty() ? nullptr : new TextCorrupter(seed, methods[m].texts));
        blocks.emplace_back(methods[m].blocks.empty() ? nullptr : new PayloadCorrupter(seed, methods[m].blocks));
    }
    std::mt19937 pick(SEED + 999);

    TraceCapture capture;
    ULONGLONG start = GetTickCount64();
    size_t largest = 0;
    for (int i = 0; i < CASES; ++i) {
        if (i % FRESH_EVERY == 0)
            fresh = std::make_unique<CContent>(host.stage.get(), key);
        for (size_t m = 0; m < methods.size(); ++m) {
            Bytes bytes;
            if (blocks[m] != nullptr)
                // Mostly a block of a whole icon's length: those pass to the depth check.
                bytes = pick() % 2 == 0 ? methods[m].blocks[pick() % methods[m].blocks.size()] : blocks[m]->next();
            else
                bytes = texts[m]->next();
            GuardedBlock block(bytes);
            deliver(master, methods[m].name, block, "A");
            deliver(slave, methods[m].name, block, "HOST");
            deliver(*fresh, methods[m].name, block, "HOST");
        }
        if ((i + 1) % CHECK_EVERY == 0) {
            for (CContent* copy : {&master, &slave, fresh.get()}) {
                largest = std::max(largest, copy->speakers().size());
                ASSERT_LE(copy->speakers().size(), CContent::SPEAKER_LIMIT) << "case " << i;
            }
            capture.clear();
            host.view.chat.clear();
            a.view.chat.clear();
            session.hub.clearTraffic();
            ASSERT_LT(GetTickCount64() - start, TIME_LIMIT_MS) << "case " << i;
        }
    }
    printf("%d cases for each of %zu methods in %llu ms; largest speaker list %zu\n", CASES, methods.size(),
           GetTickCount64() - start, largest);
    EXPECT_EQ(CContent::SPEAKER_LIMIT, master.speakers().size());
    EXPECT_FALSE(capture.text().find("FATAL") != std::string::npos);
    fresh.reset();

    // The stages still work: a terminal that joins now gets the old content and a new one.
    StageTerminal& b = session.join("B");
    std::string next = install(host, ContentFiles::text(dir.path(), "after.txt"));
    for (const std::string& k : {key, next})
        for (StageTerminal* terminal : {&host, &b})
            EXPECT_TRUE(waitUntil([&] { return contentOn(*terminal, k) != nullptr && contentOn(*terminal, k)->isSynchronized(); }))
                << terminal->id();
    EXPECT_EQ(CContent::SPEAKER_LIMIT, contentOn(b, key)->speakers().size());
}

} // namespace
