// Generates loader/codepage437.bin, the printer's glyphs for code page 437:
// 256 single-width glyphs of 10 x 24 dots followed by 256 double-width glyphs
// of 20 x 24 dots (each stored as two 10-dot records, left half first).
// A record is 24 rows, top first, each row a 16-bit word high byte first with
// the leftmost dot in the most significant bit.
//
// Letters, digits and symbols are rendered from an outline font with FreeType
// (oversampled, then reduced to dots by coverage), so the double-width set is
// drawn at 20 dots rather than widened. Everything that has to meet its
// neighbours or that the printer gives its own meaning (box drawing, shades,
// blocks, the small digits, the blank codes) is drawn here by hand so that
// lines join across cells exactly. The output depends only on the font file
// and this program, so every run writes the same bytes.
//
//   gen_codepage [--font FILE] [--text FILE] OUTPUT.bin
//
// --text writes every glyph as '#'/'.' art for review in a text editor.

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kRows = 24;
constexpr int kSingleWidth = 10;
constexpr int kDoubleWidth = 20;
constexpr std::size_t kRecordBytes = 48;
constexpr std::size_t kImageBytes = 768 * kRecordBytes;

// Rows 0..19 lie above the baseline; rows 20..23 take descenders and the
// lower parts of box drawing.
constexpr int kBaselineRow = 20;
constexpr int kDescentRows = kRows - kBaselineRow;

// Capital height in dots; the capital A fills rows 0..19.
constexpr double kCapRows = 20.0;

// Stems of the single-width set are widened by this many dots (see Build).
constexpr double kSingleEmbolden = 0.6;

// Coverage is sampled on a grid this many times finer than the dots.
constexpr int kOversample = 8;

const char* const kDefaultFont = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";

// Unicode for each code of code page 437 (codes 0..31 are the IBM symbol
// glyphs; in this image most of them are replaced by the printer's own).
const std::array<char32_t, 256> kCp437 = {
    0x0000, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9, 0x2642,
    0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC, 0x0020, 0x0021, 0x0022, 0x0023,
    0x0024, 0x0025, 0x0026, 0x0027, 0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037, 0x0038, 0x0039, 0x003A, 0x003B,
    0x003C, 0x003D, 0x003E, 0x003F, 0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F, 0x0050, 0x0051, 0x0052, 0x0053,
    0x0054, 0x0055, 0x0056, 0x0057, 0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067, 0x0068, 0x0069, 0x006A, 0x006B,
    0x006C, 0x006D, 0x006E, 0x006F, 0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x2302, 0x00C7, 0x00FC, 0x00E9, 0x00E2,
    0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2,
    0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566,
    0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0,
    0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A,
    0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// One glyph cell of `width` dots by 24 rows.
class Cell {
public:
    explicit Cell(int width) : width_(width), dots_(static_cast<std::size_t>(width * kRows), 0) {}
    int Width() const { return width_; }
    bool Get(int x, int y) const {
        return x >= 0 && x < width_ && y >= 0 && y < kRows &&
               dots_[static_cast<std::size_t>(y * width_ + x)];
    }
    void Set(int x, int y, bool on = true) {
        if (x >= 0 && x < width_ && y >= 0 && y < kRows)
            dots_[static_cast<std::size_t>(y * width_ + x)] = on;
    }
    void Fill(int x0, int y0, int x1, int y1) {  // inclusive corners
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) Set(x, y);
    }
    void Clear() { std::fill(dots_.begin(), dots_.end(), 0); }

    // Row word of the 10-dot record starting at column `first`.
    std::uint16_t Word(int first, int y) const {
        std::uint16_t w = 0;
        for (int x = 0; x < 10; ++x)
            if (Get(first + x, y)) w = static_cast<std::uint16_t>(w | (0x8000u >> x));
        return w;
    }

private:
    int width_;
    std::vector<std::uint8_t> dots_;
};

// Parses '#'/'.' art, one string per row from the top; missing rows stay blank.
Cell FromArt(int width, const std::vector<const char*>& rows) {
    Cell c(width);
    for (std::size_t y = 0; y < rows.size(); ++y)
        for (int x = 0; rows[y][x] != '\0' && x < width; ++x)
            if (rows[y][x] == '#') c.Set(x, static_cast<int>(y));
    return c;
}

Cell FromWords(const std::array<std::uint16_t, kRows>& left) {
    Cell c(kSingleWidth);
    for (int y = 0; y < kRows; ++y)
        for (int x = 0; x < kSingleWidth; ++x)
            if (left[static_cast<std::size_t>(y)] & (0x8000u >> x)) c.Set(x, y);
    return c;
}

// ---------------------------------------------------------------------------
// Outline rendering

class FontRenderer {
public:
    explicit FontRenderer(const std::string& path) {
        if (FT_Init_FreeType(&library_) != 0) throw std::runtime_error("cannot start FreeType");
        if (FT_New_Face(library_, path.c_str(), 0, &face_) != 0)
            throw std::runtime_error("cannot open font " + path);
        // Measure the font's own cell: advance of a monospaced glyph and the
        // height of a flat-topped capital.
        const FT_UInt h = FT_Get_Char_Index(face_, 'H');
        if (h == 0 || FT_Load_Glyph(face_, h, FT_LOAD_NO_SCALE | FT_LOAD_NO_BITMAP) != 0)
            throw std::runtime_error("font has no capital H: " + path);
        advance_ = static_cast<double>(face_->glyph->metrics.horiAdvance);
        FT_BBox box;
        FT_Outline_Get_CBox(&face_->glyph->outline, &box);
        capHeight_ = static_cast<double>(box.yMax);
    }
    ~FontRenderer() {
        if (face_ != nullptr) FT_Done_Face(face_);
        if (library_ != nullptr) FT_Done_FreeType(library_);
    }
    FontRenderer(const FontRenderer&) = delete;
    FontRenderer& operator=(const FontRenderer&) = delete;

    // Renders `cp` into a cell of `width` dots. The font's advance spans the
    // cell and its capital height spans kCapRows; glyphs that would leave the
    // cell (accented capitals, long descenders, wide symbols) are compressed
    // on that side only, so they keep their weight and stay recognisable.
    Cell Render(char32_t cp, int width, double embolden = 0.0, double capRows = kCapRows,
                double threshold = 0.5) const {
        FT_GlyphSlot slot = LoadOutline(cp, width, embolden, capRows);
        const Placement place = PlaceInCell(slot, width);
        if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0)
            throw std::runtime_error("cannot render U+" + Hex(cp));
        const std::vector<double> coverage = SnapToGrid(slot, place, width);
        return Threshold(coverage, place, width, threshold);
    }

    static std::string Hex(char32_t cp) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(cp));
        return buf;
    }

private:
    // Where the outline's ink goes in the cell, in dots.
    struct Placement {
        double inkLeft, inkRight, inkBottom;
        double scaleX = 1.0, shiftX = 0.0;
        double scaleUp = 1.0, scaleDown = 1.0;  // above and below the baseline
    };

    // The glyph's outline at the oversampled size that makes the font's
    // advance `width` dots and its capital height `capRows` rows.
    FT_GlyphSlot LoadOutline(char32_t cp, int width, double embolden, double capRows) const {
        const FT_UInt index = FT_Get_Char_Index(face_, cp);
        if (index == 0) throw std::runtime_error("font lacks U+" + Hex(cp));

        const double unitsPerEm = face_->units_per_EM;
        const double ppemX = width * unitsPerEm / advance_;
        const double ppemY = capRows * unitsPerEm / capHeight_;
        // Oversampled pixel sizes in 26.6.
        const auto sizeX = static_cast<FT_F26Dot6>(std::lround(ppemX * kOversample * 64.0));
        const auto sizeY = static_cast<FT_F26Dot6>(std::lround(ppemY * kOversample * 64.0));
        if (FT_Set_Char_Size(face_, sizeX, sizeY, 72, 72) != 0)
            throw std::runtime_error("cannot size font");
        if (FT_Load_Glyph(face_, index,
                          FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP | FT_LOAD_NO_AUTOHINT) != 0)
            throw std::runtime_error("cannot load U+" + Hex(cp));
        FT_GlyphSlot slot = face_->glyph;
        if (embolden != 0.0) {
            const auto e = static_cast<FT_Pos>(std::lround(embolden * kOversample * 64.0));
            FT_Outline_EmboldenXY(&slot->outline, e, 0);
            FT_Outline_Translate(&slot->outline, -e / 2, 0);
        }
        return slot;
    }

    // Horizontal placement: keep the font's own position, slide a glyph back
    // inside when it pokes out, squeeze it only if it is too wide. Vertically,
    // only the side that leaves the cell is compressed.
    static Placement PlaceInCell(FT_GlyphSlot slot, int width) {
        FT_BBox box;
        FT_Outline_Get_CBox(&slot->outline, &box);
        const double unit = 64.0 * kOversample;  // 26.6 oversampled units per dot
        Placement p;
        p.inkLeft = box.xMin / unit;
        p.inkRight = box.xMax / unit;
        const double inkTop = box.yMax / unit;
        p.inkBottom = box.yMin / unit;

        const double inkWidth = p.inkRight - p.inkLeft;
        if (inkWidth > width) {
            p.scaleX = width / inkWidth;
            p.shiftX = -p.inkLeft * p.scaleX;
        } else if (p.inkLeft < 0.0) {
            p.shiftX = -p.inkLeft;
        } else if (p.inkRight > width) {
            p.shiftX = width - p.inkRight;
        }
        p.scaleUp = inkTop > kBaselineRow ? kBaselineRow / inkTop : 1.0;
        p.scaleDown = -p.inkBottom > kDescentRows ? kDescentRows / -p.inkBottom : 1.0;
        return p;
    }

    // The coverage of each dot with the whole rendered glyph moved by (dx, dy) dots.
    static std::vector<double> Coverage(FT_GlyphSlot slot, const Placement& p, int width, double dx,
                                        double dy) {
        const FT_Bitmap& bm = slot->bitmap;
        const double sample = 1.0 / kOversample;
        std::vector<double> coverage(static_cast<std::size_t>(width * kRows), 0.0);
        for (unsigned j = 0; j < bm.rows; ++j) {
            const unsigned char* line = bm.buffer + static_cast<std::ptrdiff_t>(j) * bm.pitch;
            const double ys = (slot->bitmap_top - static_cast<double>(j) - 0.5) / kOversample;
            const double vs = ys >= 0.0 ? p.scaleUp : p.scaleDown;
            const double row = kBaselineRow - ys * vs + dy;
            const int y = static_cast<int>(std::floor(row));
            if (y < 0 || y >= kRows) continue;
            for (unsigned i = 0; i < bm.width; ++i) {
                if (line[i] == 0) continue;
                const double xs = (slot->bitmap_left + static_cast<double>(i) + 0.5) / kOversample;
                const int x = static_cast<int>(std::floor(xs * p.scaleX + p.shiftX + dx));
                if (x < 0 || x >= width) continue;
                coverage[static_cast<std::size_t>(y * width + x)] +=
                    line[i] / 255.0 * sample * sample * p.scaleX * vs;
            }
        }
        return coverage;
    }

    // How many dots are neither clearly on nor clearly off.
    static double Ambiguity(const std::vector<double>& coverage) {
        double sum = 0.0;
        for (double v : coverage) sum += std::min(std::min(v, 1.0), std::max(0.0, 1.0 - v));
        return sum;
    }

    // Outlines rarely fall on the dot grid, so a stem of 2.3 dots may touch
    // three columns; trying the shifts below a dot and keeping the one with
    // the least half-covered dots snaps stems onto the grid the way hinting
    // would, without moving the glyph by a whole dot.
    std::vector<double> SnapToGrid(FT_GlyphSlot slot, const Placement& p, int width) const {
        std::vector<double> best;
        double bestCost = 0.0, bestShift = 0.0;
        for (int sy = -maxShift_; sy <= maxShift_; ++sy) {
            for (int sx = -maxShift_; sx <= maxShift_; ++sx) {
                const double dx = static_cast<double>(sx) / kOversample;
                const double dy = static_cast<double>(sy) / kOversample;
                // Stay inside the cell when the glyph already fills it.
                if (p.inkLeft * p.scaleX + p.shiftX + dx < -0.01 ||
                    p.inkRight * p.scaleX + p.shiftX + dx > width + 0.01)
                    continue;
                std::vector<double> cov = Coverage(slot, p, width, dx, dy);
                const double cost = Ambiguity(cov);
                const double shift = std::abs(dx) + std::abs(dy);
                if (best.empty() || cost < bestCost - 1e-9 ||
                    (cost < bestCost + 1e-9 && shift < bestShift - 1e-9)) {
                    best = std::move(cov);
                    bestCost = cost;
                    bestShift = shift;
                }
            }
        }
        if (best.empty()) best = Coverage(slot, p, width, 0.0, 0.0);
        return best;
    }

    // Dots covered at least `threshold`. A glyph that does not descend keeps
    // the descent rows clear even when its round bottom overshoots the baseline.
    static Cell Threshold(const std::vector<double>& coverage, const Placement& p, int width,
                          double threshold) {
        const int lastRow = p.inkBottom > -0.75 ? kBaselineRow - 1 : kRows - 1;
        Cell c(width);
        for (int y = 0; y <= lastRow; ++y)
            for (int x = 0; x < width; ++x)
                if (coverage[static_cast<std::size_t>(y * width + x)] >= threshold) c.Set(x, y);
        return c;
    }

    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
    double advance_ = 0.0;
    double capHeight_ = 0.0;
    int maxShift_ = 3;  // in oversampled steps, so less than half a dot
};

// ---------------------------------------------------------------------------
// Hand-drawn cells

// Box drawing: every line is two dots thick and sits at fixed places so that
// neighbouring cells continue each other (rows 11-12 for a single horizontal,
// 9-10 and 13-14 for a double one; the verticals in the middle of the cell).
struct BoxArms {
    int up, down, left, right;  // 0 none, 1 single, 2 double
};

BoxArms BoxArmsOf(char32_t cp) {
    switch (cp) {
    case 0x2502: return {1, 1, 0, 0};
    case 0x2524: return {1, 1, 1, 0};
    case 0x2561: return {1, 1, 2, 0};
    case 0x2562: return {2, 2, 1, 0};
    case 0x2556: return {0, 2, 1, 0};
    case 0x2555: return {0, 1, 2, 0};
    case 0x2563: return {2, 2, 2, 0};
    case 0x2551: return {2, 2, 0, 0};
    case 0x2557: return {0, 2, 2, 0};
    case 0x255D: return {2, 0, 2, 0};
    case 0x255C: return {2, 0, 1, 0};
    case 0x255B: return {1, 0, 2, 0};
    case 0x2510: return {0, 1, 1, 0};
    case 0x2514: return {1, 0, 0, 1};
    case 0x2534: return {1, 0, 1, 1};
    case 0x252C: return {0, 1, 1, 1};
    case 0x251C: return {1, 1, 0, 1};
    case 0x2500: return {0, 0, 1, 1};
    case 0x253C: return {1, 1, 1, 1};
    case 0x255E: return {1, 1, 0, 2};
    case 0x255F: return {2, 2, 0, 1};
    case 0x255A: return {2, 0, 0, 2};
    case 0x2554: return {0, 2, 0, 2};
    case 0x2569: return {2, 0, 2, 2};
    case 0x2566: return {0, 2, 2, 2};
    case 0x2560: return {2, 2, 0, 2};
    case 0x2550: return {0, 0, 2, 2};
    case 0x256C: return {2, 2, 2, 2};
    case 0x2567: return {1, 0, 2, 2};
    case 0x2568: return {2, 0, 1, 1};
    case 0x2564: return {0, 1, 2, 2};
    case 0x2565: return {0, 2, 1, 1};
    case 0x2559: return {2, 0, 0, 1};
    case 0x2558: return {1, 0, 0, 2};
    case 0x2552: return {0, 1, 0, 2};
    case 0x2553: return {0, 2, 0, 1};
    case 0x256B: return {2, 2, 1, 1};
    case 0x256A: return {1, 1, 2, 2};
    case 0x2518: return {1, 0, 1, 0};
    case 0x250C: return {0, 1, 0, 1};
    default: return {0, 0, 0, 0};
    }
}

bool IsBox(char32_t cp) {
    const BoxArms a = BoxArmsOf(cp);
    return a.up + a.down + a.left + a.right > 0;
}

// A band of two dots across one axis: [first, first + 1].
struct Band {
    int first;
    int Last() const { return first + 1; }
};

struct AxisLines {
    Band single;
    Band nearLow;   // the double line nearer to coordinate 0
    Band nearHigh;  // the double line nearer to the far edge
};

// Draws the lines of one arm along one axis. The arm runs from the cell edge
// (`fromLow`: the edge at coordinate 0) towards the centre and stops where the
// crossing lines tell it to: a single line passes straight through when the
// opposite arm continues it, a double line opens where a double arm leaves on
// its side, so that double junctions show the usual nested corners.
void DrawArm(Cell& c, bool vertical, bool fromLow, int weight, int opposite, int sideLow,
             int sideHigh, const AxisLines& along, const AxisLines& across, int length) {
    const int cross = std::max(sideLow, sideHigh);
    // Coordinate extents of the crossing lines, seen from this arm's edge.
    auto nearestStop = [&](int w) {  // far edge of the nearest crossing line
        if (w == 1) return fromLow ? across.single.Last() : across.single.first;
        return fromLow ? across.nearLow.Last() : across.nearHigh.first;
    };
    auto farthestStop = [&](int w) {  // far edge of the farthest crossing line
        if (w == 1) return fromLow ? across.single.Last() : across.single.first;
        return fromLow ? across.nearHigh.Last() : across.nearLow.first;
    };
    auto draw = [&](Band line, int stop) {
        const int a = fromLow ? 0 : stop;
        const int b = fromLow ? stop : length - 1;
        if (vertical)
            c.Fill(line.first, a, line.Last(), b);
        else
            c.Fill(a, line.first, b, line.Last());
    };
    const int full = fromLow ? length - 1 : 0;

    if (weight == 1) {
        int stop;
        if (cross == 0 || opposite > 0)
            stop = full;
        else if (sideLow > 0 && sideHigh > 0)
            stop = nearestStop(cross);
        else
            stop = farthestStop(cross);
        draw(along.single, stop);
        return;
    }
    // Double arm: two lines, each facing one side.
    const Band lines[2] = {along.nearLow, along.nearHigh};
    const int sides[2] = {sideLow, sideHigh};
    for (int k = 0; k < 2; ++k) {
        int stop;
        if (cross == 0) {
            stop = full;
        } else if (cross == 1) {
            stop = opposite > 0 ? full : farthestStop(1);
        } else if (sides[k] > 0) {
            stop = nearestStop(2);
        } else {
            stop = opposite > 0 ? full : farthestStop(2);
        }
        draw(lines[k], stop);
    }
}

Cell DrawBox(char32_t cp, int width) {
    const BoxArms a = BoxArmsOf(cp);
    Cell c(width);
    const int mid = width / 2 - 1;  // left column of the two-dot vertical
    const AxisLines cols{{mid}, {mid - 2}, {mid + 2}};
    const AxisLines rows{{11}, {9}, {13}};
    if (a.up) DrawArm(c, true, true, a.up, a.down, a.left, a.right, cols, rows, kRows);
    if (a.down) DrawArm(c, true, false, a.down, a.up, a.left, a.right, cols, rows, kRows);
    if (a.left) DrawArm(c, false, true, a.left, a.right, a.up, a.down, rows, cols, width);
    if (a.right) DrawArm(c, false, false, a.right, a.left, a.up, a.down, rows, cols, width);
    return c;
}

// Shades and blocks run through the whole cell so that they tile. A printer
// would burn a solid full block, so the full block and the small square are
// a checkerboard of dots.
bool IsBlockOrShade(char32_t cp) {
    return (cp >= 0x2591 && cp <= 0x2593) || (cp >= 0x2580 && cp <= 0x2590);
}

Cell DrawBlock(char32_t cp, int width) {
    Cell c(width);
    for (int y = 0; y < kRows; ++y) {
        for (int x = 0; x < width; ++x) {
            bool on = false;
            switch (cp) {
            case 0x2591: on = (x + 2 * y) % 4 == 0; break;  // light, one dot in four
            case 0x2592: on = (x + 2 * y) % 4 < 2; break;   // medium, pairs of dots
            case 0x2593: on = (x + 2 * y) % 4 != 2; break;  // dark, three in four
            case 0x2588: on = (x + y) % 2 == 0; break;
            case 0x2584: on = y >= kRows / 2; break;
            case 0x258C: on = x < width / 2; break;
            case 0x2590: on = x >= width / 2; break;
            case 0x2580: on = y < kRows / 2; break;
            default: break;
            }
            c.Set(x, y, on);
        }
    }
    return c;
}

Cell DrawSmallSquare(int width) {
    // The square sits on the middle of the x-height, like the font's own.
    Cell c(width);
    const int size = width == kSingleWidth ? 8 : 14;
    const int x0 = (width - size) / 2;
    for (int y = 6; y < 6 + 12; ++y)
        for (int x = x0; x < x0 + size; ++x)
            if ((x + y) % 2 == 0) c.Set(x, y);
    return c;
}

// Small digits 0..9 in the upper twelve rows: the printer puts them above
// ordinary digits (prices, exponents). Codes 10..13 are the small minus,
// point, comma and slash that go with them.
const std::array<std::vector<const char*>, 14> kSmall = {{
    {"...####...", "..######..", ".###..###.", ".##....##.", ".##....##.", ".##....##.",
     ".##....##.", ".##....##.", ".##....##.", ".###..###.", "..######..", "...####..."},
    {"....##....", "...###....", "..####....", ".##.##....", "....##....", "....##....",
     "....##....", "....##....", "....##....", "....##....", ".########.", ".########."},
    {"...####...", "..######..", ".###..###.", ".##....##.", ".......##.", "......###.",
     ".....###..", "....###...", "...###....", "..###.....", ".########.", ".########."},
    {"...####...", "..######..", ".###..###.", ".......##.", "......###.", "....####..",
     "....####..", "......###.", ".......##.", ".###..###.", "..######..", "...####..."},
    {".....##...", "....###...", "...####...", "..##.##...", ".##..##...", ".##..##...",
     ".########.", ".########.", ".....##...", ".....##...", ".....##...", ".....##..."},
    {".########.", ".########.", ".##.......", ".##.......", ".#######..", ".########.",
     ".......##.", ".......##.", ".......##.", ".###..###.", "..######..", "...####..."},
    {"...####...", "..######..", ".###..###.", ".##.......", ".##.####..", ".########.",
     ".###..###.", ".##....##.", ".##....##.", ".###..###.", "..######..", "...####..."},
    {".########.", ".########.", ".......##.", "......###.", "......##..", ".....###..",
     ".....##...", "....###...", "....##....", "....##....", "....##....", "....##...."},
    {"...####...", "..######..", ".###..###.", ".##....##.", ".###..###.", "..######..",
     "..######..", ".###..###.", ".##....##.", ".###..###.", "..######..", "...####..."},
    {"...####...", "..######..", ".###..###.", ".##....##.", ".##....##.", ".###..###.",
     ".########.", "..####.##.", ".......##.", ".###..###.", "..######..", "...####..."},
    {"..........", "..........", "..........", "..........", "..........", "..######..",
     "..######..", "..........", "..........", "..........", "..........", ".........."},
    {"..........", "..........", "..........", "..........", "..........", "..........",
     "..........", "..........", "..........", "..........", "...###....", "...###...."},
    {"..........", "..........", "..........", "..........", "..........", "..........",
     "..........", "..........", "...###....", "...###....", "....##....", "...##....."},
    {"........##", ".......##.", ".......##.", "......##..", "......##..", ".....##...",
     ".....##...", "....##....", "....##....", "...##.....", "...##.....", "..##......"},
}};

// Accented letters are put together from the plain letter and a hand-drawn
// accent in rows 0..3: the font's accents sit above the capital height, so
// in 24 rows they would be squeezed until the two dots of a diaeresis merge
// into a bar. Capitals are drawn shorter, rows 5..19, to leave the accent
// its room.
enum class Accent { Diaeresis, Acute, Grave, Circumflex, Ring, Tilde };

struct Composed {
    char32_t letter;
    char32_t base;
    Accent accent;
};

constexpr Composed kComposed[] = {
    {0x00FC, U'u', Accent::Diaeresis},    {0x00E9, U'e', Accent::Acute},
    {0x00E2, U'a', Accent::Circumflex},   {0x00E4, U'a', Accent::Diaeresis},
    {0x00E0, U'a', Accent::Grave},        {0x00E5, U'a', Accent::Ring},
    {0x00EA, U'e', Accent::Circumflex},   {0x00EB, U'e', Accent::Diaeresis},
    {0x00E8, U'e', Accent::Grave},        {0x00EF, 0x0131, Accent::Diaeresis},
    {0x00EE, 0x0131, Accent::Circumflex}, {0x00EC, 0x0131, Accent::Grave},
    {0x00C4, U'A', Accent::Diaeresis},    {0x00C5, U'A', Accent::Ring},
    {0x00C9, U'E', Accent::Acute},        {0x00F4, U'o', Accent::Circumflex},
    {0x00F6, U'o', Accent::Diaeresis},    {0x00F2, U'o', Accent::Grave},
    {0x00FB, U'u', Accent::Circumflex},   {0x00F9, U'u', Accent::Grave},
    {0x00FF, U'y', Accent::Diaeresis},    {0x00D6, U'O', Accent::Diaeresis},
    {0x00DC, U'U', Accent::Diaeresis},    {0x00E1, U'a', Accent::Acute},
    {0x00ED, 0x0131, Accent::Acute},      {0x00F3, U'o', Accent::Acute},
    {0x00FA, U'u', Accent::Acute},        {0x00F1, U'n', Accent::Tilde},
    {0x00D1, U'N', Accent::Tilde},
};

const Composed* FindComposed(char32_t cp) {
    for (const Composed& c : kComposed)
        if (c.letter == cp) return &c;
    return nullptr;
}

void DrawAccent(Cell& c, Accent accent) {
    static const std::vector<const char*> kSingle[] = {
        {"..........", "..##..##..", "..##..##..", ".........."},
        {"......##..", ".....##...", "....##....", "...##....."},
        {"..##......", "...##.....", "....##....", ".....##..."},
        {"....##....", "...####...", "..##..##..", ".##....##."},
        {"...####...", "..##..##..", "..##..##..", "...####..."},
        {"..........", "..###..##.", ".##.####..", ".##..##..."},
    };
    static const std::vector<const char*> kDouble[] = {
        {"....................", ".....###....###.....", ".....###....###.....",
         "...................."},
        {"...........###......", "..........###.......", ".........###........",
         "........###........."},
        {"......###...........", ".......###..........", "........###.........",
         ".........###........"},
        {"........####........", "......###..###......", ".....##......##.....",
         "....##........##...."},
        {".......######.......", "......##....##......", "......##....##......",
         ".......######......."},
        {"....................", ".....####.....##....", "....##..###..##.....",
         "....##....####......"},
    };
    const auto& rows = (c.Width() == kSingleWidth ? kSingle : kDouble)[static_cast<int>(accent)];
    for (std::size_t y = 0; y < rows.size(); ++y)
        for (int x = 0; x < c.Width(); ++x)
            if (rows[y][x] == '#') c.Set(x, static_cast<int>(y));
}

// The single-width infinity: the font's loops close up at ten dots.
const std::vector<const char*> kInfinity = {"..........", "..........", "..........", "..........",
                                            "..........", "..........", "..........", "..........",
                                            ".###..###.", "##.####.##", "#...##...#", "#...##...#",
                                            "#...##...#", "##.####.##", ".###..###."};

// The capital A of both sets is the printer's own drawing; it is kept exactly.
constexpr std::array<std::uint16_t, kRows> kSingleA = {
    0x0C00, 0x0C00, 0x1E00, 0x1E00, 0x3F00, 0x3300, 0x7380, 0x6180, 0x6180, 0x6180, 0x6180, 0x7F80,
    0x7F80, 0x6180, 0x6180, 0x6180, 0x6180, 0x6180, 0x6180, 0x6180, 0,      0,      0,      0};
constexpr std::array<std::uint16_t, kRows> kDoubleALeft = {
    0x00C0, 0x01C0, 0x0180, 0x0380, 0x0380, 0x0300, 0x0700, 0x0700, 0x0600, 0x0E00, 0x0C00, 0x0FC0,
    0x1FC0, 0x1FC0, 0x3800, 0x3800, 0x3000, 0x7000, 0x6000, 0x6000, 0,      0,      0,      0};
constexpr std::array<std::uint16_t, kRows> kDoubleARight = {
    0x8000, 0xC000, 0xC000, 0xC000, 0xE000, 0x6000, 0x7000, 0x7000, 0x3000, 0x3800, 0x1800, 0xF800,
    0xFC00, 0xFC00, 0x0E00, 0x0E00, 0x0600, 0x0700, 0x0300, 0x0300, 0,      0,      0,      0};

// Codes whose integral halves meet the next line: their stem runs to the edge.
void ExtendIntegral(Cell& c, bool down) {
    // Find the stem: the leftmost run of dots in the middle row.
    const int w = c.Width();
    const int probe = down ? 16 : 8;
    int first = -1, last = -1;
    for (int x = 0; x < w; ++x) {
        if (c.Get(x, probe)) {
            if (first < 0) first = x;
            last = x;
        } else if (first >= 0) {
            break;
        }
    }
    if (first < 0) return;
    if (down)
        c.Fill(first, probe, last, kRows - 1);
    else
        c.Fill(first, 0, last, probe);
}

struct Options {
    std::string font = kDefaultFont;
    std::string output;
    std::string text;
};

struct Glyphs {
    std::vector<Cell> single;
    std::vector<Cell> twice;
};

Glyphs Build(const FontRenderer& font) {
    Glyphs g;
    for (int code = 0; code < 256; ++code) {
        const char32_t cp = kCp437[static_cast<std::size_t>(code)];
        for (int pass = 0; pass < 2; ++pass) {
            const int width = pass == 0 ? kSingleWidth : kDoubleWidth;
            Cell c(width);
            const bool blankSingle =
                (code >= 14 && code <= 23) || (code >= 26 && code <= 32) || code == 255;
            const bool blankDouble = code <= 32 || code == 255;
            if (pass == 0 && blankSingle) {
                // stays blank
            } else if (pass == 1 && blankDouble) {
                // stays blank
            } else if (pass == 0 && code <= 13) {
                c = FromArt(width, kSmall[static_cast<std::size_t>(code)]);
            } else if (IsBox(cp)) {
                c = DrawBox(cp, width);
            } else if (IsBlockOrShade(cp)) {
                c = DrawBlock(cp, width);
            } else if (cp == U'_') {
                // The underscore runs from edge to edge so that it underlines
                // a whole word without gaps.
                c.Fill(0, kRows - 2, width - 1, kRows - 1);
            } else if (cp == 0x25A0) {
                c = DrawSmallSquare(width);
            } else if (FindComposed(cp) != nullptr) {
                const Composed* k = FindComposed(cp);
                const bool capital = k->base >= U'A' && k->base <= U'Z';
                c = font.Render(k->base, width, pass == 0 ? kSingleEmbolden : 0.0,
                                capital ? kCapRows - 5 : kCapRows);
                DrawAccent(c, k->accent);
            } else if (pass == 0 && cp == 0x221E) {
                c = FromArt(width, kInfinity);
            } else {
                // The single-width cell is narrow for the font's thin stems:
                // widen them by 0.6 dot so that every stem prints two dots,
                // like the hand-drawn digits and capital A. At double width
                // the stems are three dots wide as they stand.
                c = font.Render(cp, width, width == kSingleWidth ? kSingleEmbolden : 0.0);
                if (cp == 0x2320) ExtendIntegral(c, true);
                if (cp == 0x2321) ExtendIntegral(c, false);
            }
            (pass == 0 ? g.single : g.twice).push_back(std::move(c));
        }
    }
    g.single[65] = FromWords(kSingleA);
    Cell a(kDoubleWidth);
    for (int y = 0; y < kRows; ++y)
        for (int x = 0; x < 10; ++x) {
            if (kDoubleALeft[static_cast<std::size_t>(y)] & (0x8000u >> x)) a.Set(x, y);
            if (kDoubleARight[static_cast<std::size_t>(y)] & (0x8000u >> x)) a.Set(x + 10, y);
        }
    g.twice[65] = std::move(a);
    return g;
}

void PutWord(std::vector<unsigned char>& out, std::uint16_t w) {
    out.push_back(static_cast<unsigned char>(w >> 8));
    out.push_back(static_cast<unsigned char>(w & 0xFF));
}

std::vector<unsigned char> Pack(const Glyphs& g) {
    std::vector<unsigned char> out;
    out.reserve(kImageBytes);
    for (const Cell& c : g.single)
        for (int y = 0; y < kRows; ++y) PutWord(out, c.Word(0, y));
    for (std::size_t code = 0; code < g.twice.size(); ++code) {
        const Cell& c = g.twice[code];
        for (int half = 0; half < 2; ++half) {
            for (int y = 0; y < kRows; ++y) {
                std::uint16_t w = c.Word(half * 10, y);
                // The printer's double-width box corner (code 218) carries
                // four more dots in the unused low bits of its right half's
                // horizontal; kept as the printer has always had it.
                if (code == 218 && half == 1 && (y == 11 || y == 12)) w = 0xFFF0;
                PutWord(out, w);
            }
        }
    }
    return out;
}

std::string Art(const Glyphs& g) {
    std::ostringstream s;
    for (int set = 0; set < 2; ++set) {
        const auto& cells = set == 0 ? g.single : g.twice;
        for (std::size_t code = 0; code < cells.size(); code += 8) {
            s << (set == 0 ? "single" : "double") << " codes " << code << ".." << code + 7 << "\n";
            for (int y = 0; y < kRows; ++y) {
                for (std::size_t k = code; k < code + 8 && k < cells.size(); ++k) {
                    for (int x = 0; x < cells[k].Width(); ++x)
                        s << (cells[k].Get(x, y) ? '#' : '.');
                    s << ' ';
                }
                s << "\n";
            }
            s << "\n";
        }
    }
    return s.str();
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    f.close();
    return static_cast<bool>(f);
}

int Usage() {
    std::cerr << "usage: gen_codepage [--font FILE] [--text FILE] OUTPUT.bin\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--font" || a == "--text") && i + 1 < argc) {
            (a == "--font" ? opt.font : opt.text) = argv[++i];
        } else if (!a.empty() && a[0] == '-') {
            return Usage();
        } else if (opt.output.empty()) {
            opt.output = a;
        } else {
            return Usage();
        }
    }
    if (opt.output.empty()) return Usage();
    try {
        FontRenderer font(opt.font);
        const Glyphs g = Build(font);
        const std::vector<unsigned char> image = Pack(g);
        if (image.size() != kImageBytes)
            throw std::runtime_error("internal error: image has wrong size");
        if (!WriteFile(opt.output, std::string(image.begin(), image.end())))
            throw std::runtime_error("cannot write " + opt.output);
        if (!opt.text.empty() && !WriteFile(opt.text, Art(g)))
            throw std::runtime_error("cannot write " + opt.text);
    } catch (const std::exception& e) {
        std::cerr << "gen_codepage: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
