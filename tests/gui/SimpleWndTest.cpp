// The termination notice on the screen: size, place, the text's lines centred as a block, the
// ellipsis of a line too wide.
#include "CSimpleWnd.h"
#include "CTavUtility.h"
#include "UiThreadScope.h"
#include "WidgetTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const COLORREF TEXT_COLOUR = 0x0000FF;
const COLORREF BACKGROUND = 0x00FF00;
const RECT OVER = {60, 40, 860, 491};   // 800 × 451

// The client's pixels that are not the background.
struct TextPixels {
    int width = 0, height = 0;
    std::vector<bool> text;
    explicit TextPixels(const CWnd& window)
    {
        RECT client;
        window.GetClientRect(&client);
        width = client.right;
        height = client.bottom;
        POINT origin = {0, 0};
        window.ClientToScreen(&origin);
        const std::vector<Rgb> pixels = screenPixels(RECT{origin.x, origin.y, origin.x + width, origin.y + height});
        for (const Rgb& pixel : pixels)
            text.push_back(pixel != rgbOf(BACKGROUND));
    }
    bool at(int x, int y) const { return text[static_cast<size_t>(y) * width + x]; }
    bool row(int y, int from = 0, int to = -1) const
    {
        for (int x = from; x < (to < 0 ? width : to); ++x)
            if (at(x, y))
                return true;
        return false;
    }
    bool column(int x, int top, int bottom) const
    {
        for (int y = top; y < bottom; ++y)
            if (at(x, y))
                return true;
        return false;
    }
    // Runs of rows holding text: [top, bottom).
    std::vector<std::pair<int, int>> lines() const
    {
        std::vector<std::pair<int, int>> runs;
        for (int y = 0; y < height; ++y) {
            if (!row(y))
                continue;
            if (runs.empty() || runs.back().second != y)
                runs.push_back({y, y + 1});
            else
                runs.back().second = y + 1;
        }
        return runs;
    }
};

} // namespace

TEST(CSimpleWnd, ThreeLinesAreCentredAsABlockOverTheWindow)
{
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    CPlainTopWnd over(OVER, WS_POPUP | WS_VISIBLE);
    CSimpleWnd notice;
    ASSERT_NE(nullptr, notice.m_hWnd);
    pumpMessages(100);
    EXPECT_FALSE(notice.IsWindowVisible());
    const std::string text = CTavUtility::loadString(63021, "");
    ASSERT_EQ("Tavelin termination in process. \nIt takes some time to \nfinish the termination process.", text);
    notice.Show(&over, 270, 64, text, TEXT_COLOUR, BACKGROUND);
    pumpMessages(300);
    EXPECT_TRUE(notice.IsWindowVisible());
    EXPECT_NE(0u, notice.GetExStyle() & WS_EX_TOPMOST);
    EXPECT_NE(0u, notice.GetStyle() & WS_DISABLED);
    EXPECT_EQ(0u, notice.GetStyle() & WS_CAPTION);
    RECT window;
    notice.GetWindowRect(&window);
    EXPECT_EQ(270, window.right - window.left);
    EXPECT_EQ(64, window.bottom - window.top);
    EXPECT_LE(abs((window.left - OVER.left) - (OVER.right - window.right)), 1);
    EXPECT_LE(abs((window.top - OVER.top) - (OVER.bottom - window.bottom)), 1);
    saveScreenshot("termination_notice");

    const TextPixels pixels(notice);
    const auto lines = pixels.lines();
    ASSERT_EQ(3u, lines.size());
    // Each line is centred by its advance, trailing blank included: where its ink may start.
    std::vector<int> starts, ends;
    {
        HDC screen = GetDC(nullptr);
        HFONT font = CreateFontA(-MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72), 0, 0, 0, 400, FALSE, FALSE, FALSE,
                                 DEFAULT_CHARSET, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                                 "Arial");
        HGDIOBJ previous = SelectObject(screen, font);
        size_t from = 0;
        while (from <= text.size()) {
            const size_t end = std::min(text.find('\n', from), text.size());
            SIZE extent{};
            GetTextExtentPoint32A(screen, text.c_str() + from, static_cast<int>(end - from), &extent);
            starts.push_back((pixels.width - extent.cx) / 2);
            ends.push_back(starts.back() + extent.cx);
            from = end + 1;
        }
        SelectObject(screen, previous);
        DeleteObject(font);
        ReleaseDC(nullptr, screen);
    }
    ASSERT_EQ(3u, starts.size());
    const int top = lines.front().first, bottom = pixels.height - lines.back().second;
    EXPECT_LE(abs(top - bottom), 1) << "top " << top << " bottom " << bottom;
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto& line = lines[i];
        SCOPED_TRACE(line.first);
        int left = 0, right = pixels.width - 1;
        while (left < pixels.width && !pixels.column(left, line.first, line.second))
            ++left;
        while (right > 0 && !pixels.column(right, line.first, line.second))
            --right;
        EXPECT_LE(abs(left - starts[i]), 1) << "left " << left << " start " << starts[i];
        EXPECT_LE(right, ends[i]) << "right " << right << " end " << ends[i];
        // The text colour is there, not only its smoothed edges.
        bool coloured = false;
        RECT client;
        notice.GetClientRect(&client);
        POINT origin = {0, 0};
        notice.ClientToScreen(&origin);
        for (const Rgb& pixel : screenPixels(RECT{origin.x, origin.y + line.first, origin.x + client.right,
                                                 origin.y + line.second}))
            coloured = coloured || pixel == rgbOf(TEXT_COLOUR);
        EXPECT_TRUE(coloured);
    }
}

TEST(CSimpleWnd, ALineTooWideEndsInAnEllipsisInsideTheWindow)
{
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    CPlainTopWnd over(OVER, WS_POPUP | WS_VISIBLE);
    CSimpleWnd notice;
    notice.Show(&over, 270, 64,
                "Tavelin termination in process, and it takes some more time to finish every part of it.",
                TEXT_COLOUR, BACKGROUND);
    pumpMessages(300);
    saveScreenshot("termination_notice_ellipsis");
    const TextPixels pixels(notice);
    const auto lines = pixels.lines();
    ASSERT_EQ(1u, lines.size());
    const int lineTop = lines[0].first, lineBottom = lines[0].second;
    // The text stays inside, and its last three marks are dots: narrow, low and on one row band.
    int x = pixels.width - 1;
    while (x > 0 && !pixels.column(x, lineTop, lineBottom))
        --x;
    EXPECT_LT(x, pixels.width - 1);
    std::vector<std::pair<int, int>> dotRows;
    for (int dot = 0; dot < 3; ++dot) {
        SCOPED_TRACE(dot);
        const int right = x;
        int dotTop = lineBottom, dotBottom = lineTop;
        while (x > 0 && pixels.column(x, lineTop, lineBottom)) {
            for (int y = lineTop; y < lineBottom; ++y)
                if (pixels.at(x, y)) {
                    dotTop = std::min(dotTop, y);
                    dotBottom = std::max(dotBottom, y + 1);
                }
            --x;
        }
        EXPECT_LE(right - x, 3) << "mark width";
        EXPECT_LE(dotBottom - dotTop, 3) << "mark height";
        EXPECT_GE(dotTop, lineTop + (lineBottom - lineTop) / 2) << "mark in the lower half";
        dotRows.push_back({dotTop, dotBottom});
        while (x > 0 && !pixels.column(x, lineTop, lineBottom))
            --x;
    }
    EXPECT_EQ(dotRows[0], dotRows[1]);
    EXPECT_EQ(dotRows[1], dotRows[2]);
}
