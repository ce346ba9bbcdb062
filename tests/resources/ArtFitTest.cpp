// The skin pictures against what the painting code relies on: parts drawn together are of one
// size, masks and marks have the colours that the raster operations need, and the places that
// the code paints over or draws into are left for it.
#include "BitmapPixels.h"
#include "LoadedLibrary.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const Rgb BLACK = {0, 0, 0};
const Rgb WHITE = {255, 255, 255};

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::vector<std::string> skinned(const std::string& prefix) {
    return {prefix + "0", prefix + "1", prefix + "2"};
}

class ArtFit : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(nullptr, library.handle()) << "cannot load " << library.path(); }

    BitmapPixels picture(const std::string& name) const {
        BitmapPixels pixels(library.handle(), wide(name).c_str());
        EXPECT_TRUE(pixels.valid()) << name << " is missing or not an uncompressed picture";
        return pixels;
    }

    // Every picture of the list is width x height.
    void expectSize(const std::vector<std::string>& names, int width, int height) const {
        for (const std::string& name : names) {
            BitmapPixels p = picture(name);
            EXPECT_EQ(width, p.width()) << name;
            EXPECT_EQ(height, p.height()) << name;
        }
    }

    LoadedLibrary library{"tavlang.dll"};
};

bool nearBlack(Rgb c) { return c.r <= 64 && c.g <= 64 && c.b <= 64; }
bool light(Rgb c) { return c.r >= 128 || c.g >= 128 || c.b >= 128; }

// The slider puts the mask on with SRCAND and the thumb over it with SRCINVERT: the thumb must be
// black wherever the mask is white, or the background shows through in false colours.
TEST_F(ArtFit, SliderThumbsAreBlackWhereTheMaskIsWhite) {
    BitmapPixels mask = picture("IDB_SLD_MASK");
    int inside = 0;
    for (int y = 0; y < mask.height(); ++y) {
        for (int x = 0; x < mask.width(); ++x) {
            ASSERT_TRUE(mask.at(x, y) == BLACK || mask.at(x, y) == WHITE) << "mask at " << x << ", " << y;
            inside += mask.at(x, y) == BLACK ? 1 : 0;
        }
    }
    EXPECT_GT(inside, 0) << "the mask has no thumb";
    EXPECT_LT(inside, mask.width() * mask.height()) << "the mask has no outside";
    for (const std::string& name : skinned("IDB_SLD_THUMB")) {
        BitmapPixels thumb = picture(name);
        ASSERT_EQ(mask.width(), thumb.width()) << name;
        ASSERT_EQ(mask.height(), thumb.height()) << name;
        for (int y = 0; y < mask.height(); ++y) {
            for (int x = 0; x < mask.width(); ++x) {
                if (mask.at(x, y) == WHITE) {
                    EXPECT_EQ(BLACK, thumb.at(x, y)) << name << " at " << x << ", " << y;
                }
            }
        }
    }
}

// The LED copies the listen mark and ORs the dark lamp over it: the mark must be black where it
// must not show, and the dark lamps near black so that the mark shows through them.
TEST_F(ArtFit, LampPicturesAreOneSizeAndTheListenMarkShowsThroughTheDarkLamp) {
    BitmapPixels listen = picture("IDB_PHONE_LED_LISTEN");
    std::vector<std::string> dark = skinned("IDB_PHONE_LED_OFF");
    dark.push_back("IDB_PHONE_LED_OFF");
    expectSize(skinned("IDB_PHONE_LED_ON"), listen.width(), listen.height());
    expectSize(dark, listen.width(), listen.height());

    int marked = 0, clear = 0;
    for (int y = 0; y < listen.height(); ++y) {
        for (int x = 0; x < listen.width(); ++x) {
            Rgb c = listen.at(x, y);
            EXPECT_TRUE(c == BLACK || light(c)) << "listen mark at " << x << ", " << y;
            marked += light(c) ? 1 : 0;
            clear += c == BLACK ? 1 : 0;
        }
    }
    EXPECT_GT(marked, 0);
    EXPECT_GT(clear, 0);
    for (const std::string& name : dark) {
        BitmapPixels lamp = picture(name);
        for (int y = 0; y < lamp.height(); ++y) {
            for (int x = 0; x < lamp.width(); ++x) {
                EXPECT_TRUE(nearBlack(lamp.at(x, y))) << name << " at " << x << ", " << y;
            }
        }
    }
}

TEST_F(ArtFit, PowerButtonPicturesAre89By20) {
    std::vector<std::string> names;
    for (const char* state : {"OFF", "OFF_ROLL", "OFF_PRESS", "ON", "ON_ROLL", "ON_PRESS"}) {
        for (const std::string& name : skinned(std::string("IDB_PHONE_") + state)) names.push_back(name);
    }
    expectSize(names, 89, 20);
}

// The main dialog reserves (156, 428) - (386, 448) for the panel; the power button, the cover at
// (89, 0) and the slider track at (97, 1) lie inside the panel.
TEST_F(ArtFit, PhonePanelAndItsPartsFitTheirPlaces) {
    BitmapPixels track = picture("IDB_SLD_BACK");
    for (int skin = 0; skin < 3; ++skin) {
        BitmapPixels panel = picture("IDB_PHONE_CTRL" + std::to_string(skin));
        BitmapPixels cover = picture("IDB_COVER" + std::to_string(skin));
        EXPECT_LE(panel.width(), 230);
        EXPECT_LE(panel.height(), 20);
        EXPECT_GE(panel.width(), 89 + cover.width()) << "cover " << skin;
        EXPECT_GE(panel.height(), cover.height()) << "cover " << skin;
        EXPECT_GE(panel.width(), 97 + track.width());
        EXPECT_GE(panel.height(), 1 + track.height());
    }
}

// The cover's opening ends once it has slid more than 130 pixels.
TEST_F(ArtFit, EveryCoverIsWiderThan130) {
    std::vector<std::string> covers = skinned("IDB_COVER");
    covers.push_back("IDB_COVER");
    for (const std::string& name : covers) EXPECT_GT(picture(name).width(), 130) << name;
}

// The trash keeps the size of its first picture whatever skin follows.
TEST_F(ArtFit, TrashPicturesAreOneSize) {
    std::vector<std::string> names = {"IDB_TRASH_OFF", "IDB_TRASH_ON"};
    for (const std::string& name : skinned("IDB_TRASH_OFF")) names.push_back(name);
    for (const std::string& name : skinned("IDB_TRASH_ON")) names.push_back(name);
    BitmapPixels first = picture("IDB_TRASH_ON0");
    expectSize(names, first.width(), first.height());
}

TEST_F(ArtFit, StageBackgroundsFillTheStage) {
    expectSize({"IDB_STAGECTRL_BG0", "IDB_STAGECTRL_BG1", "IDB_STAGECTRL_BG2", "IDB_STAGECTRL_BG3", "IDB_BLACK_BACK"},
               800, 400);
    BitmapPixels back = picture("IDB_BLACK_BACK");
    for (int y = 0; y < back.height(); y += 7) {
        for (int x = 0; x < back.width(); x += 7) ASSERT_EQ(BLACK, back.at(x, y)) << x << ", " << y;
    }
}

// Drawn through a one-bit copy of themselves: white strokes on black, nothing in between.
TEST_F(ArtFit, ChatAndGrabMarksAreWhiteStrokesOnBlack) {
    for (const char* name : {"IDB_CHAT_ICON", "IDB_GRABED_ICON"}) {
        BitmapPixels mark = picture(name);
        int strokes = 0, ground = 0;
        for (int y = 0; y < mark.height(); ++y) {
            for (int x = 0; x < mark.width(); ++x) {
                Rgb c = mark.at(x, y);
                EXPECT_TRUE(c == BLACK || c == WHITE) << name << " at " << x << ", " << y;
                strokes += c == WHITE ? 1 : 0;
                ground += c == BLACK ? 1 : 0;
            }
        }
        EXPECT_GT(strokes, 0) << name;
        EXPECT_GT(ground, 0) << name;
    }
}

// The content window draws the file's 32-pixel icon at (3, 3) over the thumbnail.
TEST_F(ArtFit, ThumbnailsArePlainWhereTheFileIconGoes) {
    for (const char* name : {"IDB_ANYFILE_THUMB", "IDB_EXEFILE_THUMB"}) {
        BitmapPixels thumb = picture(name);
        Rgb ground = thumb.at(0, 0);
        for (int y = 0; y < 38; ++y) {
            for (int x = 0; x < 38; ++x) EXPECT_EQ(ground, thumb.at(x, y)) << name << " at " << x << ", " << y;
        }
    }
}

// The status control fills (77, 6) - (107, 13) with the terminal's colour: the three roles of a
// skin must still tell apart outside it.
TEST_F(ArtFit, StatusPicturesDifferOutsideTheLamp) {
    auto outsideLamp = [](int x, int y) { return x < 77 || x >= 107 || y < 6 || y >= 13; };
    for (int skin = 0; skin < 3; ++skin) {
        const std::string digit = std::to_string(skin);
        std::vector<BitmapPixels> roles = {picture("IDB_STATUSCTRL_S" + digit), picture("IDB_STATUSCTRL_C" + digit),
                                           picture("IDB_STATUSCTRL_N" + digit)};
        for (size_t a = 0; a < roles.size(); ++a) {
            for (size_t b = a + 1; b < roles.size(); ++b) {
                bool differ = false;
                for (int y = 0; y < roles[a].height() && !differ; ++y) {
                    for (int x = 0; x < roles[a].width() && !differ; ++x) {
                        differ = outsideLamp(x, y) && roles[a].at(x, y) != roles[b].at(x, y);
                    }
                }
                EXPECT_TRUE(differ) << "skin " << skin << ": roles " << a << " and " << b;
            }
        }
    }
}

// The frame of the main dialog as the user sees it (title band and bottom bar): skin 0 grey,
// skin 1 blue, skin 2 bright.
TEST_F(ArtFit, SkinsDifferAtAGlance) {
    struct Mean {
        int r, g, b;
    };
    auto frameMean = [this](int skin) {
        BitmapPixels bg = picture("IDB_MAINDLG_BG" + std::to_string(skin));
        long long r = 0, g = 0, b = 0, n = 0;
        for (int y = 0; y < bg.height(); ++y) {
            if (y >= 27 && y < 427) continue;
            for (int x = 0; x < bg.width(); ++x, ++n) {
                r += bg.at(x, y).r;
                g += bg.at(x, y).g;
                b += bg.at(x, y).b;
            }
        }
        return Mean{int(r / n), int(g / n), int(b / n)};
    };
    Mean metallic = frameMean(0), blue = frameMean(1), pop = frameMean(2);
    EXPECT_LT(std::max({metallic.r, metallic.g, metallic.b}) - std::min({metallic.r, metallic.g, metallic.b}), 16);
    EXPECT_GT(blue.b, blue.r + 40);
    EXPECT_GT(blue.b, blue.g + 20);
    EXPECT_GE(std::max({pop.r, pop.g, pop.b}), 200);
    EXPECT_GE(std::max({pop.r, pop.g, pop.b}) - std::min({pop.r, pop.g, pop.b}), 80);
}

// The 32-bit images of the program icon are see-through at the corners and solid inside.
TEST_F(ArtFit, ProgramIconTrueColourImagesCarryAlpha) {
    int checked = 0;
    for (WORD id = 1; id < 64; ++id) {
        HRSRC resource = FindResourceW(library.handle(), MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3 /* RT_ICON */));
        if (!resource) continue;
        auto header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(library.handle(), resource)));
        if (header->biBitCount != 32) continue;
        auto pixels = reinterpret_cast<const BYTE*>(header + 1);
        const int count = header->biWidth * header->biWidth;
        int clear = 0, solid = 0;
        for (int i = 0; i < count; ++i) {
            clear += pixels[i * 4 + 3] == 0 ? 1 : 0;
            solid += pixels[i * 4 + 3] == 255 ? 1 : 0;
        }
        EXPECT_GT(clear, 0) << header->biWidth;
        EXPECT_GT(solid, count / 2) << header->biWidth;
        ++checked;
    }
    EXPECT_EQ(3, checked);
}

}  // namespace
