// Descriptors and layer lists as peers could send them, corrupted in many deterministic ways:
// the readers never fault, refuse what breaks the form and read what holds it. The seed is
// printed.
#include "CStage.h"
#include "Corruptions.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

namespace {

const int CASES = 100000;
const std::chrono::seconds TIME_LIMIT(120);
const std::string SEP = "_ELEM_DESC_SEP_";
const std::string ALIGN = "_ALIGN_DESC_SEP_";

std::vector<size_t> occurrences(const std::string& text, const std::string& separator) {
    std::vector<size_t> found;
    for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, at + separator.size()))
        found.push_back(at);
    return found;
}

// One way of breaking a text made of separated fields.
std::string corrupt(const std::string& text, const std::string& separator, SeededRandom& random) {
    std::string out = text;
    std::vector<size_t> seps = occurrences(out, separator);
    switch (random.below(8)) {
    case 0:   // a separator cut inside
        if (!seps.empty())
            out.erase(seps[random.below(seps.size())] + 1 + random.below(separator.size() - 1), 1);
        break;
    case 1:   // a separator doubled
        if (!seps.empty())
            out.insert(seps[random.below(seps.size())], separator);
        break;
    case 2:   // a separator moved
        if (!seps.empty()) {
            out.erase(seps[random.below(seps.size())], separator.size());
            out.insert(random.below(out.size() + 1), separator);
        }
        break;
    case 3:   // truncated
        out.resize(random.below(out.size() + 1));
        break;
    case 4:   // random bytes in place
        for (size_t n = 1 + random.below(8); n > 0 && !out.empty(); --n)
            out[random.below(out.size())] = static_cast<char>(random.next());
        break;
    case 5:   // a piece of a separator inserted
        out.insert(random.below(out.size() + 1), separator.substr(0, 1 + random.below(separator.size())));
        break;
    case 6:   // all random
        out.assign(random.below(200), '\0');
        for (char& c : out)
            c = static_cast<char>(random.next());
        break;
    default:   // grown to just over the longest taken
        out += std::string(CStage::MAX_DESC_LENGTH + 1 > out.size() ? CStage::MAX_DESC_LENGTH + 1 - out.size() : 0, 'x');
        break;
    }
    return out;
}

TEST(StageTextRobustness, CorruptedDescriptorsAndLayerListsAreReadSafely) {
    SeededRandom random;
    std::vector<std::string> descs = {
        CStage::makeElementDesc("0 0", "size", "motion", "0", "5A3C0F1E-0000-4B2D-9C1A-00105A67EDD0", "*.*", 120, 90),
        CStage::makeElementDesc("-30 400", "size", "motion", "12", "2048 *C:\\a b\\pic.jpg *nick", "C:\\tmp\\pic.jpg",
                                120, 90),
        CStage::makeElementDesc("1 1", "size", "motion", "", "", "C:\\x" + SEP + "y.exe", 120, 90),
    };
    std::string layers = descs[0] + ALIGN + descs[1] + ALIGN + descs[2];

    CTrace::setDumpOff();
    TraceCapture trace;
    auto began = std::chrono::steady_clock::now();
    int read = 0;
    for (int i = 0; i < CASES; ++i) {
        std::string desc = corrupt(descs[i % descs.size()], SEP, random);
        if (random.below(4) == 0)
            desc = corrupt(desc, SEP, random);
        int width = 0, height = 0;
        std::string location, size, motion, decoration, attribute, path;
        bool taken = CStage::parseElementDesc(desc, &width, &height, &location, &size, &motion, &decoration,
                                              &attribute, &path);
        bool whole = desc.size() <= CStage::MAX_DESC_LENGTH && occurrences(desc, SEP).size() >= 8;
        ASSERT_EQ(whole, taken) << "case " << i;
        if (taken) {
            ++read;
            for (const std::string* field : {&location, &size, &motion, &decoration, &attribute})
                ASSERT_EQ(std::string::npos, field->find(SEP)) << "case " << i;
            ASSERT_GE(desc.size(), path.size());
            ASSERT_EQ(0, desc.compare(desc.size() - path.size(), path.size(), path)) << "case " << i;
        }
        EXPECT_EQ(taken && path == "*.*", CStage::isCursorDesc(desc));

        std::string list = corrupt(layers, ALIGN, random);
        if (random.below(50) == 0)   // many keys
            for (int k = 0; k < 1100; ++k)
                list += ALIGN + "k";
        std::vector<std::string> keys = CStage::parseLayerList(list);
        ASSERT_LE(keys.size(), CStage::LAYER_KEY_LIMIT) << "case " << i;
        std::string joined;
        for (size_t k = 0; k < keys.size(); ++k) {
            ASSERT_FALSE(keys[k].empty()) << "case " << i;
            ASSERT_EQ(std::string::npos, keys[k].find(ALIGN)) << "case " << i;
            joined += (k > 0 ? ALIGN : "") + keys[k];
        }
        ASSERT_EQ(0, list.compare(0, joined.size(), joined)) << "case " << i;
        if (i % 1000 == 0) {
            trace.clear();
            ASSERT_LT(std::chrono::steady_clock::now() - began, TIME_LIMIT) << "after " << i << " cases";
        }
    }
    std::cerr << read << " of " << CASES << " descriptors read" << std::endl;
    EXPECT_GT(read, CASES / 4);
}

}  // namespace
