#!/usr/bin/python3
"""Reads what the user sees from screenshots of the update panel and checks it.

    check_screens.py PANEL_X PANEL_Y UPLOADING_1.png UPLOADING_2.png FINISHED.png

From three screenshots, taken at about a third and two thirds of an upload and
after its end:
- the progress bar's fill grows from the first screenshot to the second and
  fills the bar at the end;
- the status line above the bar says the upload is running, then that it is
  complete (read with tesseract);
- the update button is greyed out during the upload and green again at the
  end; the Help button keeps its colour.

    check_screens.py PANEL_X PANEL_Y --disconnected MESSAGES SCREENSHOT.png
    check_screens.py PANEL_X PANEL_Y --stuck MESSAGES SCREENSHOT.png

From a screenshot after the pedal went away (or stopped taking messages)
during an upload, once it had taken MESSAGES messages: the status line says so
with that count, update is red (no output is open) and the bar stayed where the
upload stopped.

    check_screens.py PANEL_X PANEL_Y --left-behind SCREENSHOT.png

From a screenshot after the pedal was chosen again while the stuck driver of
an earlier upload still holds it: the status line says to unplug it and
restart the updater, and update is red.

    check_screens.py PANEL_X PANEL_Y --finished SCREENSHOT.png

Only tells, by its exit status, whether the screenshot shows the end of a whole
upload: the bar full and update green again.

    check_screens.py PANEL_X PANEL_Y --complete SCREENSHOT.png

From a screenshot after an upload: the status line says it is complete, the
bar is full and update green again.

    check_screens.py PANEL_X PANEL_Y --not-opened NAME SCREENSHOT.png

From a screenshot after choosing the output NAME while another program holds
it: the status line says it could not be opened, and update is red.

    check_screens.py PANEL_X PANEL_Y --status SCREENSHOT.png

Prints the status line as read.

    check_screens.py LIST_X LIST_Y --row-of TEXT WIDTH HEIGHT SCREENSHOT.png

Finds the row that reads TEXT in the open list of WIDTH x HEIGHT at LIST_X,
LIST_Y, and prints the vertical middle of that row, from the list's top; fails
unless exactly one row reads so.

PANEL_X and PANEL_Y are the screen position of the panel's top-left corner. The
pointer must be off the buttons, which would otherwise be drawn as hovered.
Needs ImageMagick's convert and tesseract.
"""

import difflib
import os
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import expected  # noqa: E402

# The panel's layout, in panel coordinates: x, y, width, height.
BAR = expected.numbers("panelLayout.progressBar")
UPDATE_BUTTON = expected.numbers("panelLayout.updateButton")
HELP_BUTTON = expected.numbers("panelLayout.helpButton")
# The status line: its label, with 6 px more above the text for tesseract.
_label = expected.numbers("panelLayout.statusLine")
STATUS_LINE = (_label[0], _label[1] - 6, _label[2], _label[3] + 6)

# The colours the framework draws them in (its light scheme, and the panel's
# own button colours, drawn at 0.9 of their saturation when not focused):
# update's green or red brightened by 0.99, and while it is disabled at half
# opacity over the panel.
BAR_FILL = expected.colour("coloursOnScreen.progressBarFill")
UPDATE_ENABLED = expected.colour("coloursOnScreen.updateButtonConnected")
UPDATE_DISABLED = expected.colour("coloursOnScreen.updateButtonDuringUpload")
UPDATE_RED = expected.colour("coloursOnScreen.updateButtonNotConnected")
HELP = expected.colour("coloursOnScreen.helpButton")
COLOUR_TOLERANCE = 6

# The embedded image's count of messages, as the status line writes it.
IMAGE_MESSAGES = "3,065"


def status_line(key, **values):
    return expected.text("panel.statusLine", status=expected.text(key, **values))


UPLOADING_TEXT = status_line("status.uploading")
COMPLETE_TEXT = status_line("status.complete")
STOPPED_KEYS = {
    "--disconnected": "status.disconnected",
    "--stuck": "status.stoppedResponding",
}
# Wine names the pedal's port after the device and the port.
LEFT_BEHIND_TEXT = expected.text("panel.leftBehind", name="Virtual Pedal - Virtual Pedal")
# OCR may misread a letter or two; another status line differs far more.
TEXT_SIMILARITY = 0.9


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def expect(self, what, ok, shown):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
        print(f"{'ok  ' if ok else 'FAIL'}  {what}: {shown}")


class Screen:
    def __init__(self, path, panel_x, panel_y):
        self.path = path
        self.panel = (panel_x, panel_y)

    def crop(self, area, *options):
        x, y, w, h = area
        return ["convert", self.path, "-crop", f"{w}x{h}+{self.panel[0] + x}+{self.panel[1] + y}", "+repage", *options]

    def pixels(self, area):
        """Rows of (r, g, b) tuples."""
        raw = subprocess.run(self.crop(area, "-depth", "8", "rgb:-"), check=True, capture_output=True).stdout
        width = area[2]
        flat = [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]
        return [flat[i:i + width] for i in range(0, len(flat), width)]

    def colour(self, area):
        """The median colour of the area, channel by channel."""
        flat = [p for row in self.pixels(area) for p in row]
        return tuple(int(statistics.median(p[c] for p in flat)) for c in range(3))

    def bar_fill(self):
        """The share of the bar's columns drawn in the fill colour. A column
        counts when most of its pixels are: the percentage printed across the
        bar covers only some of each column's pixels."""
        x, y, w, h = BAR
        rows = self.pixels((x, y + 4, w, h - 8))
        filled = sum(1 for column in zip(*rows)
                     if sum(near(p, BAR_FILL) for p in column) * 2 > len(column))
        return filled / w

    def text(self, area):
        """The text in the area, read by tesseract from a three times larger image."""
        png = subprocess.run(self.crop(area, "-resize", "300%", "png:-"), check=True, capture_output=True).stdout
        read = subprocess.run(["tesseract", "stdin", "stdout", "--psm", "7"], input=png,
                              check=True, capture_output=True).stdout
        return " ".join(read.decode().split())

    def rows(self, area):
        """The lines of text in the area, as (text, top, height), read by
        tesseract as a block of lines from a three times larger image."""
        png = subprocess.run(self.crop(area, "-resize", "300%", "png:-"), check=True, capture_output=True).stdout
        tsv = subprocess.run(["tesseract", "stdin", "stdout", "--psm", "6", "tsv"], input=png,
                             check=True, capture_output=True).stdout.decode()
        lines = {}
        for row in tsv.splitlines()[1:]:
            fields = row.split("\t")
            if len(fields) < 12 or fields[0] != "5" or not fields[11].strip():
                continue
            key = tuple(fields[2:5])
            top, height = int(fields[7]), int(fields[9])
            words, first, last = lines.get(key, ([], top, top + height))
            lines[key] = (words + [fields[11]], min(first, top), max(last, top + height))
        return [(" ".join(words), first / 3, (last - first) / 3) for words, first, last in lines.values()]


def near(colour, wanted):
    return all(abs(a - b) <= COLOUR_TOLERANCE for a, b in zip(colour, wanted))


def similar(text, wanted):
    return difflib.SequenceMatcher(None, text, wanted).ratio() >= TEXT_SIMILARITY


def shows(text, wanted):
    """Whether a line read as text shows the expected one, whole: a line the
    label had to cut off with an ellipsis does not count."""
    return similar(text, wanted)


def shows_the_end(screen):
    colour = screen.colour(button_strip(UPDATE_BUTTON))
    return screen.bar_fill() >= 0.97 and near(colour, UPDATE_ENABLED)


def button_strip(area):
    """A strip inside the button above its text, clear of its outline."""
    return (area[0] + 8, area[1] + 3, area[2] - 16, 4)


def check_upload(first, second, finished, checks):
    fills = [screen.bar_fill() for screen in (first, second, finished)]
    shown = " -> ".join(f"{fill:.2f}" for fill in fills)
    checks.expect("the bar is partly filled a third of the way", 0.05 < fills[0] < 0.95, shown)
    checks.expect("the bar has grown two thirds of the way", fills[0] + 0.1 < fills[1] < 0.98, shown)
    checks.expect("the bar is full at the end", fills[2] >= 0.97, shown)

    for screen, wanted in ((second, UPLOADING_TEXT), (finished, COMPLETE_TEXT)):
        text = screen.text(STATUS_LINE)
        checks.expect(f"the status line reads \"{wanted}\"", similar(text, wanted), repr(text))

    for screen, area, wanted, what in ((second, UPDATE_BUTTON, UPDATE_DISABLED, "update greyed out during the upload"),
                                         (finished, UPDATE_BUTTON, UPDATE_ENABLED, "update green at the end"),
                                         (finished, HELP_BUTTON, HELP, "Help in its own colour at the end")):
        colour = screen.colour(button_strip(area))
        checks.expect(what, near(colour, wanted), f"{colour}, expected {wanted}")


def check_complete(screen, checks):
    text = screen.text(STATUS_LINE)
    checks.expect(f"the status line reads \"{COMPLETE_TEXT}\"", shows(text, COMPLETE_TEXT), repr(text))

    fill = screen.bar_fill()
    checks.expect("the bar is full", fill >= 0.97, f"{fill:.2f}")

    colour = screen.colour(button_strip(UPDATE_BUTTON))
    checks.expect("update green", near(colour, UPDATE_ENABLED), f"{colour}, expected {UPDATE_ENABLED}")


def check_not_opened(name, screen, checks):
    wanted = expected.text("panel.notOpened", name=name)
    text = screen.text(STATUS_LINE)
    checks.expect(f"the status line reads \"{wanted}\"", shows(text, wanted), repr(text))

    colour = screen.colour(button_strip(UPDATE_BUTTON))
    checks.expect("update red and disabled: no output is open", near(colour, UPDATE_RED), f"{colour}, expected {UPDATE_RED}")


def row_of(text, screen, width, height):
    """The middle of the one row that reads the text, or None, with what was read."""
    rows = screen.rows((0, 0, width, height))
    matches = [top + row_height / 2 for read, top, row_height in rows if similar(read, text)]
    return (matches[0] if len(matches) == 1 else None), [read for read, _, _ in rows]


def check_stopped(key, messages, screen, checks):
    wanted = status_line(key, n=f"{messages:,}", total=IMAGE_MESSAGES)
    text = screen.text(STATUS_LINE)
    # The count is what tells one stop from another: it must read exactly.
    checks.expect(f"the status line shows \"{wanted}\"",
                  shows(text, wanted) and f"message {messages:,} of" in text, repr(text))

    fill = screen.bar_fill()
    checks.expect("the bar stays where the upload stopped, partly filled", 0.02 < fill < 0.97, f"{fill:.2f}")

    colour = screen.colour(button_strip(UPDATE_BUTTON))
    checks.expect("update red and disabled: no output is open", near(colour, UPDATE_RED), f"{colour}, expected {UPDATE_RED}")


def check_left_behind(screen, checks):
    text = screen.text(STATUS_LINE)
    checks.expect(f"the status line shows \"{LEFT_BEHIND_TEXT}\"", shows(text, LEFT_BEHIND_TEXT), repr(text))

    colour = screen.colour(button_strip(UPDATE_BUTTON))
    checks.expect("update red and disabled: no output is open", near(colour, UPDATE_RED), f"{colour}, expected {UPDATE_RED}")


def main(argv):
    if len(argv) < 4:
        raise SystemExit(__doc__)

    panel_x, panel_y = int(argv[1]), int(argv[2])
    mode, args = argv[3], argv[4:]
    checks = Checks()

    if mode == "--finished" and len(args) == 1:
        return 0 if shows_the_end(Screen(args[0], panel_x, panel_y)) else 1
    if mode == "--status" and len(args) == 1:
        print(Screen(args[0], panel_x, panel_y).text(STATUS_LINE))
        return 0
    if mode == "--row-of" and len(args) == 4:
        middle, read = row_of(args[0], Screen(args[3], panel_x, panel_y), int(args[1]), int(args[2]))
        if middle is None:
            print(f"not exactly one row reads {args[0]!r}; read: {read!r}", file=sys.stderr)
            return 1
        print(round(middle))
        return 0

    if mode == "--complete" and len(args) == 1:
        check_complete(Screen(args[0], panel_x, panel_y), checks)
    elif mode == "--not-opened" and len(args) == 2:
        check_not_opened(args[0], Screen(args[1], panel_x, panel_y), checks)
    elif mode == "--left-behind" and len(args) == 1:
        check_left_behind(Screen(args[0], panel_x, panel_y), checks)
    elif mode in STOPPED_KEYS and len(args) == 2:
        check_stopped(STOPPED_KEYS[mode], int(args[0]), Screen(args[1], panel_x, panel_y), checks)
    elif not mode.startswith("--") and len(args) == 2:
        check_upload(*(Screen(path, panel_x, panel_y) for path in argv[3:]), checks)
    else:
        raise SystemExit(__doc__)

    print(f"screenshots: {checks.passed} passed, {checks.failed} failed")
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
