"""A tiny anti-aliased rasteriser built on signed distances.

Only IEEE-exact operations (+, -, *, /, sqrt) are used, and sine and cosine come from a
fixed series, so the pixels come out bit for bit the same on every machine: the committed
logo records must match what this generator makes anywhere.
"""

PI = 3.141592653589793


def sin(angle):
    """Sine from a fixed Taylor series (no libm, whose last bit varies by platform)."""
    while angle > PI:
        angle -= 2 * PI
    while angle < -PI:
        angle += 2 * PI
    term, total = angle, angle
    for n in range(1, 12):
        term *= -angle * angle / ((2 * n) * (2 * n + 1))
        total += term
    return total


def cos(angle):
    return sin(angle + PI / 2)


def sqrt(value):
    return value ** 0.5


def clamp(value, low=0.0, high=1.0):
    return low if value < low else high if value > high else value


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


# --- signed distances (negative inside) ----------------------------------------------

def circle(cx, cy, r):
    return lambda x, y: sqrt((x - cx) ** 2 + (y - cy) ** 2) - r


def ring(cx, cy, r, half_width):
    return lambda x, y: abs(sqrt((x - cx) ** 2 + (y - cy) ** 2) - r) - half_width


def rounded_rect(x0, y0, x1, y1, radius):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - radius, (y1 - y0) / 2 - radius

    def distance(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = sqrt(max(qx, 0.0) ** 2 + max(qy, 0.0) ** 2)
        return outside + min(max(qx, qy), 0.0) - radius
    return distance


def segment(ax, ay, bx, by, half_width):
    """A capsule: the points within half_width of the segment from a to b."""
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy

    def distance(x, y):
        t = clamp(((x - ax) * dx + (y - ay) * dy) / length2)
        return sqrt((x - ax - t * dx) ** 2 + (y - ay - t * dy) ** 2) - half_width
    return distance


def polygon(points):
    """A convex polygon given counter-clockwise in screen coordinates (y down)."""
    edges = []
    for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
        nx, ny = by - ay, ax - bx
        length = sqrt(nx * nx + ny * ny)
        edges.append((ax, ay, nx / length, ny / length))
    return lambda x, y: max((x - ax) * nx + (y - ay) * ny for ax, ay, nx, ny in edges)


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def intersect(*shapes):
    return lambda x, y: max(s(x, y) for s in shapes)


class Canvas:
    """Straight (not premultiplied) RGBA floats, 0..255 colour and 0..1 alpha."""

    def __init__(self, width, height, scale=1.0):
        """width by height pixels; a drawing unit is scale pixels, so one drawing serves
        every size of a picture."""
        self.width, self.height, self.scale = width, height, scale
        self.colour = [(0.0, 0.0, 0.0)] * (width * height)
        self.alpha = [0.0] * (width * height)

    def fill(self, shape, paint, box=None, opacity=1.0):
        """Paints shape with paint (a colour or a function of x, y) over what is there.
        Shapes, paints and the box are in drawing units."""
        s = self.scale
        # Below full size a box's margin of a unit or so is less than the half pixel of
        # edge shading: widen it by a pixel.
        pad = 0 if s >= 1.0 else 1
        x0, y0, x1, y1 = box or (0, 0, self.width / s, self.height / s)
        x0, y0 = max(int(x0 * s) - pad, 0), max(int(y0 * s) - pad, 0)
        x1, y1 = min(int(x1 * s) + 1 + pad, self.width), min(int(y1 * s) + 1 + pad, self.height)
        for y in range(y0, y1):
            for x in range(x0, x1):
                px, py = (x + 0.5) / s, (y + 0.5) / s
                cover = clamp(0.5 - shape(px, py) * s) * opacity
                if cover <= 0.0:
                    continue
                colour = paint(px, py) if callable(paint) else paint
                i = y * self.width + x
                under_a = self.alpha[i]
                out_a = cover + under_a * (1.0 - cover)
                under = self.colour[i]
                self.colour[i] = tuple(
                    (c * cover + u * under_a * (1.0 - cover)) / out_a
                    for c, u in zip(colour, under))
                self.alpha[i] = out_a

    def rgba_bytes(self):
        """Rows of 8-bit RGBA, colour rounded half up."""
        out = bytearray()
        for colour, alpha in zip(self.colour, self.alpha):
            out += bytes(int(clamp(c, 0.0, 255.0) + 0.5) for c in colour)
            out.append(int(alpha * 255.0 + 0.5))
        return bytes(out)
