#!/usr/bin/env python3
"""Draws the wizard artwork: kxwaterm.bmp (the side image of the welcome and
final pages, 175 x 345, 8 bits per pixel), kxheader.bmp (the emblem at the
right of the inner pages' white header, 90 x 58, 8 bits per pixel) and
kxsetup.ico (the same emblem as the dialogs' window icon, in the classic
sizes 16, 24, 32 and 48 pixels; Windows scales the nearest for any other.
Each size is a PNG image: a quarter of the bytes of the same pixels as a
bitmap, and the icon is carried twice, in both programs).

The BMP files are committed; run this only to change the artwork:
    python3 runtime/images/make_images.py runtime/images
Plain Python, no libraries: shapes are filled with 4 x 4 supersampling.
"""
import math
import struct
import sys
import zlib

SUB = 4  # samples per pixel along each axis

NAVY = (22, 44, 82)
BLUE = (36, 104, 168)
SKY = (120, 190, 235)
WHITE = (255, 255, 255)


class Canvas:
    def __init__(self, width, height, colour=(0, 0, 0)):
        self.width, self.height = width, height
        self.pixels = [[list(colour) for _ in range(width)] for _ in range(height)]

    def blend(self, x, y, colour, alpha):
        if alpha <= 0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        pixel = self.pixels[y][x]
        for i in range(3):
            pixel[i] += (colour[i] - pixel[i]) * min(alpha, 1.0)

    def polygon(self, points, colour, alpha=1.0, shade=None):
        """Fills a polygon (even-odd rule). shade(x, y) may vary the colour."""
        ys = [p[1] for p in points]
        top = max(0, int(math.floor(min(ys))))
        bottom = min(self.height - 1, int(math.ceil(max(ys))))
        edges = list(zip(points, points[1:] + points[:1]))
        for y in range(top, bottom + 1):
            coverage = {}
            for sub in range(SUB):
                sy = y + (sub + 0.5) / SUB
                crossings = []
                for (x0, y0), (x1, y1) in edges:
                    if (y0 <= sy < y1) or (y1 <= sy < y0):
                        crossings.append(x0 + (sy - y0) * (x1 - x0) / (y1 - y0))
                crossings.sort()
                for a, b in zip(crossings[0::2], crossings[1::2]):
                    # Sample x at sub-pixel centres between a and b.
                    first = int(math.ceil(a * SUB - 0.5))
                    last = int(math.floor(b * SUB - 0.5))
                    for sx in range(max(first, 0), min(last, self.width * SUB - 1) + 1):
                        coverage[sx // SUB] = coverage.get(sx // SUB, 0) + 1
            for x, count in coverage.items():
                c = shade(x, y) if shade else colour
                self.blend(x, y, c, alpha * count / (SUB * SUB))

    def stroke(self, path, width, colour, alpha=1.0, end_width=None):
        """A polyline as one outline, so that its joints are not painted twice;
        the width may taper linearly to end_width."""
        end_width = width if end_width is None else end_width
        left, right = [], []
        count = len(path)
        for i, (x, y) in enumerate(path):
            ax, ay = path[min(i + 1, count - 1)]
            bx, by = path[max(i - 1, 0)]
            length = math.hypot(ax - bx, ay - by) or 1.0
            half = (width + (end_width - width) * i / max(count - 1, 1)) / 2.0
            nx, ny = -(ay - by) / length * half, (ax - bx) / length * half
            left.append((x + nx, y + ny))
            right.append((x - nx, y - ny))
        self.polygon(left + right[::-1], colour, alpha)


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def bezier(p0, p1, p2, t):
    u = 1 - t
    return (u * u * p0[0] + 2 * u * t * p1[0] + t * t * p2[0], u * u * p0[1] + 2 * u * t * p1[1] + t * t * p2[1])


def feather(canvas, base, control, tip, width, colour, barb_colour, scale=1.0, barb_step=3):
    """A quill: a vane around a curved shaft, with barbs and two splits in its
    edge, and the bare shaft running down to the nib. Returns the nib's point."""
    steps = 80
    spine = [bezier(base, control, tip, i / steps) for i in range(steps + 1)]
    left, right = [], []
    for i, (x, y) in enumerate(spine):
        t = i / steps
        ax, ay = spine[min(i + 1, steps)]
        bx, by = spine[max(i - 1, 0)]
        length = math.hypot(ax - bx, ay - by) or 1.0
        nx, ny = -(ay - by) / length, (ax - bx) / length
        # The vane starts a fifth up the shaft, is widest past the middle and
        # runs to a point; the left side is the broader one.
        profile = 0.0 if t < 0.2 else math.sin(math.pi * ((t - 0.2) / 0.8) ** 0.75)
        notch = 1.0 - 0.32 * math.exp(-((t - 0.46) / 0.018) ** 2) - 0.25 * math.exp(-((t - 0.72) / 0.015) ** 2)
        left.append((x + nx * width * profile * notch, y + ny * width * profile * notch))
        right.append((x - nx * width * 0.5 * profile, y - ny * width * 0.5 * profile))
    canvas.polygon(left + right[::-1], colour, 0.94)
    for i in range(18, steps - 3, barb_step):
        x, y = spine[i]
        lx, ly = left[min(i + 5, steps)]
        rx, ry = right[min(i + 5, steps)]
        canvas.stroke([(x, y), (lx * 0.92 + x * 0.08, ly * 0.92 + y * 0.08)], 0.6 * scale, barb_colour, 0.3)
        canvas.stroke([(x, y), (rx * 0.9 + x * 0.1, ry * 0.9 + y * 0.1)], 0.6 * scale, barb_colour, 0.3)
    canvas.stroke(spine[int(steps * 0.2):steps - 6], 1.3 * scale, barb_colour, 0.5, end_width=0.4 * scale)
    # The bare shaft, thickest at the nib, and the nib itself.
    bx, by = base
    cx, cy = control
    length = math.hypot(cx - bx, cy - by)
    dx, dy = (bx - cx) / length, (by - cy) / length
    nib = (bx + dx * 18 * scale, by + dy * 18 * scale)
    shaft = [nib, base] + spine[1:int(steps * 0.24)]
    canvas.stroke(shaft, 1.2 * scale, colour, 0.95, end_width=2.6 * scale)
    canvas.stroke([nib, (nib[0] - dx * 7 * scale, nib[1] - dy * 7 * scale)], 0.3 * scale, colour, 1.0,
                  end_width=3.0 * scale)
    return nib


def watermark():
    width, height = 175, 345
    canvas = Canvas(width, height)
    # Every row one colour: a gradient and a soft light behind the quill's
    # tip that vary by row only. A light that also varied across the row made
    # nearly every pixel distinct, and the image cost 14.7 KB compressed in
    # every package instead of 6 KB.
    for y in range(height):
        t = y / (height - 1)
        base = mix(NAVY, BLUE, t ** 1.2)
        glow = math.exp(-((y - 70) / 140.0) ** 2)
        colour = mix(base, SKY, glow * 0.3)
        for x in range(width):
            canvas.pixels[y][x] = list(colour)
    # Every fourth barb, not every third: each faint barb is a run of pixels
    # unlike any row, and the fewer of them the smaller the package.
    nib = feather(canvas, base=(62, 282), control=(72, 162), tip=(158, 48), width=27,
                  colour=WHITE, barb_colour=(70, 130, 190), barb_step=4)
    # Lines of typeset text; the nib is finishing the last one.
    lines = [(22, 138), (22, 120), (22, 131), (22, 0)]
    for i, (start, length) in enumerate(lines):
        y = nib[1] - 3 * 11 + i * 11 - 1
        end = start + length if length else nib[0] - 3
        canvas.polygon([(start, y), (end, y), (end, y + 3), (start, y + 3)], WHITE, 0.16)
    return canvas


def rounded_square(left, top, size, radius):
    corners = []
    for cx, cy, start in ((left + size - radius, top + radius, -90), (left + size - radius, top + size - radius, 0),
                          (left + radius, top + size - radius, 90), (left + radius, top + radius, 180)):
        for step in range(9):
            angle = math.radians(start + step * 90 / 8)
            corners.append((cx + radius * math.cos(angle), cy + radius * math.sin(angle)))
    return corners


def emblem(canvas, left, top, size):
    """The rounded blue square with a white quill."""
    canvas.polygon(rounded_square(left, top, size, size * 9.0 / 44), BLUE, 1.0,
                   shade=lambda x, y: mix(mix(NAVY, BLUE, (y - top) / size), SKY,
                                          0.35 * max(0.0, (x - left) / size - 0.3)))
    k = size / 44.0
    feather(canvas, base=(left + 16 * k, top + 30 * k), control=(left + 18 * k, top + 18 * k),
            tip=(left + 37 * k, top + 6 * k), width=8 * k, colour=WHITE, barb_colour=(70, 130, 190), scale=0.55 * k)


def icon_image(size):
    """One icon size: the emblem filling the square, transparent corners."""
    colour = Canvas(size, size, BLUE)
    emblem(colour, 0, 0, size)
    mask = Canvas(size, size, (0, 0, 0))
    mask.polygon(rounded_square(0, 0, size, size * 9.0 / 44), WHITE)
    return [[(colour.pixels[y][x], mask.pixels[y][x][0]) for x in range(size)] for y in range(size)]


def paeth(left, up, corner):
    guess = left + up - corner
    distances = (abs(guess - left), abs(guess - up), abs(guess - corner))
    return left if distances[0] <= distances[1] and distances[0] <= distances[2] else \
        up if distances[1] <= distances[2] else corner


def png(size):
    """One icon size as a PNG image: RGBA, every row with the Paeth filter."""
    rows = [bytes(int(round(v)) for c, a in row for v in (c[0], c[1], c[2], a)) for row in icon_image(size)]
    filtered = b""
    previous = bytes(size * 4)
    for row in rows:
        line = bytearray([4])
        for i, value in enumerate(row):
            left = row[i - 4] if i >= 4 else 0
            corner = previous[i - 4] if i >= 4 else 0
            line.append((value - paeth(left, previous[i], corner)) & 255)
        filtered += bytes(line)
        previous = row

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(filtered, 9)) + chunk(b"IEND", b""))


def write_ico(path, sizes):
    images = [png(size) for size in sizes]
    offset = 6 + 16 * len(sizes)
    directory = struct.pack("<HHH", 0, 1, len(sizes))
    for size, image in zip(sizes, images):
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(path, "wb") as out:
        out.write(directory + b"".join(images))


def header():
    canvas = Canvas(90, 58, WHITE)
    emblem(canvas, 36, 7, 44)
    return canvas


def median_cut(colours, count):
    boxes = [colours]
    while len(boxes) < count:
        boxes.sort(key=lambda box: max(max(c[i] for c in box) - min(c[i] for c in box) for i in range(3)) if len(box) > 1 else -1)
        box = boxes.pop()
        if len(box) < 2:
            boxes.append(box)
            break
        channel = max(range(3), key=lambda i: max(c[i] for c in box) - min(c[i] for c in box))
        box.sort(key=lambda c: c[channel])
        boxes += [box[:len(box) // 2], box[len(box) // 2:]]
    return [tuple(sum(c[i] for c in box) / len(box) for i in range(3)) for box in boxes if box]


def write_bmp8(path, canvas):
    colours = [tuple(int(round(v)) for v in p) for row in canvas.pixels for p in row]
    palette = median_cut(sorted(set(colours)), 256)
    palette += [(0, 0, 0)] * (256 - len(palette))
    nearest = {}
    for c in set(colours):
        nearest[c] = min(range(256), key=lambda i: sum((c[k] - palette[i][k]) ** 2 for k in range(3)))
    stride = (canvas.width + 3) & ~3
    rows = b""
    for y in range(canvas.height - 1, -1, -1):
        row = bytes(nearest[tuple(int(round(v)) for v in p)] for p in canvas.pixels[y])
        rows += row + b"\0" * (stride - len(row))
    table = b"".join(bytes((int(round(b)), int(round(g)), int(round(r)), 0)) for r, g, b in palette)
    write_bmp(path, canvas, 8, table, rows)


def write_bmp(path, canvas, bits, table, rows):
    offset = 14 + 40 + len(table)
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, bits, 0, len(rows), 2835, 2835,
                       256 if bits == 8 else 0, 0)
    with open(path, "wb") as out:
        out.write(b"BM" + struct.pack("<IHHI", offset + len(rows), 0, 0, offset) + info + table + rows)


if __name__ == "__main__":
    folder = sys.argv[1] if len(sys.argv) > 1 else "."
    # 8 bits per pixel: the watermark's few hundred colours lose nothing to
    # be seen in a palette of 256, and it travels in every package 1.4 KB
    # smaller compressed than at 24 bits.
    write_bmp8(folder + "/kxwaterm.bmp", watermark())
    write_bmp8(folder + "/kxheader.bmp", header())
    write_ico(folder + "/kxsetup.ico", [16, 24, 32, 48])
