"""An independent writer of the project format, written without reference to
the player's own code: it writes project (.kvp) and script (.kvs) files from
plain Python objects, so that scenario projects built with it check the
player's reader against a second reading of the format.

Only the kinds the scenarios need are here: variable groups and variables,
script flow commands, waits, the end marker, rectangles, texts and Orlan
inserts. Every class writes the newest version of its record unless its
`version` fields ask for an older one (the reader must still take those);
a field that an older version cannot carry must be left at its default.
Field names are the format's own, so a dump of a written file can be
compared field by field.
"""
import struct

# Variable types of a variable record.
INT2, WORD, BOOL, INT4, DWORD, DOUBLE, STRING = range(7)
TYPE_NAMES = ["Int2", "Word", "Bool", "Int4", "DWord", "Double", "String"]

# Project tree node kinds.
KIND_PROJECT, KIND_BACKGROUND, KIND_FREESTYLE, KIND_SCENE = 0, 2, 3, 4

# The header tag that announces the extended document header.
FORMAT_TAG = 0x4401


def require_default(obj, version, names, since):
    """An older record version cannot carry these fields: refuse to drop a
    value silently."""
    fresh = type(obj).__new__(type(obj))
    type(obj).__init__(fresh)
    for n in names:
        if getattr(obj, n) != getattr(fresh, n):
            raise ValueError("%s version %d cannot carry %s (from version %d)"
                             % (type(obj).__name__, version, n, since))


class Archive:
    """A storing archive: little-endian primitives, length-prefixed strings,
    counts, and objects with class tags. Classes and objects share one entry
    numbering that starts at 1 (0 is the null reference)."""

    def __init__(self, wide_strings=False):
        # The player's own files never hold wide strings, but its reader takes
        # them; a writer asked for them writes every string in that form.
        self.wide_strings = wide_strings
        self.out = bytearray()
        self.next_entry = 1
        self.classes = {}   # class name -> entry number
        self.objects = {}   # id(object) -> entry number
        self._keep = []     # keeps written objects alive so ids stay unique

    def bytes(self):
        return bytes(self.out)

    def u8(self, v):
        self.out += struct.pack("<B", v & 0xFF)

    def u16(self, v):
        self.out += struct.pack("<H", v & 0xFFFF)

    def i32(self, v):
        self.out += struct.pack("<i", v)

    def u32(self, v):
        self.out += struct.pack("<I", v & 0xFFFFFFFF)

    def f64(self, v):
        self.out += struct.pack("<d", v)

    def raw(self, data):
        self.out += data

    def string(self, text):
        # Texts are single-byte in the Windows ANSI code page unless the wide
        # form is asked for: 0xFF, u16 0xFFFE, then a length prefix of the
        # same form counting UTF-16 units, then the units.
        if self.wide_strings:
            data = text.encode("utf-16-le")
            self.u8(0xFF)
            self.u16(0xFFFE)
            self._length(len(data) // 2)
        else:
            data = text.encode("cp1252")
            self._length(len(data))
        self.raw(data)

    def _length(self, n):
        if n < 255:
            self.u8(n)
        elif n < 0xFFFE:
            self.u8(0xFF)
            self.u16(n)
        else:
            self.u8(0xFF)
            self.u16(0xFFFF)
            self.u32(n)

    def count(self, n):
        if n < 0xFFFF:
            self.u16(n)
        else:
            self.u16(0xFFFF)
            self.u32(n)

    def _entry_ref(self, n, tag_bit):
        if n < 0x7FFF:
            self.u16(n | (0x8000 if tag_bit else 0))
        else:
            self.u16(0x7FFF)
            self.u32(n | (0x80000000 if tag_bit else 0))

    def _take_entry(self):
        if self.next_entry >= 0x3FFFFFFE:
            raise ValueError("archive reference table is full")
        n = self.next_entry
        self.next_entry += 1
        return n

    def write_object(self, obj):
        if obj is None:
            self.u16(0)
            return
        if id(obj) in self.objects:
            self._entry_ref(self.objects[id(obj)], False)
            return
        name = obj.CLASS
        if name in self.classes:
            self._entry_ref(self.classes[name], True)
        else:
            data = name.encode("ascii")
            if len(data) >= 64:
                raise ValueError("class name too long: " + name)
            self.u16(0xFFFF)
            self.u16(obj.SCHEMA & 0xFFFF)
            self.u16(len(data))
            self.raw(data)
            self.classes[name] = self._take_entry()
        # The entry is taken before the object's own data, so references to it
        # from inside that data resolve.
        self.objects[id(obj)] = self._take_entry()
        self._keep.append(obj)
        obj.serialize(self)

    def object_list(self, objs):
        """A list of objects: a count, then each as an object reference."""
        self.count(len(objs))
        for o in objs:
            self.write_object(o)


class ObList:
    """The object-list container, for lists that are themselves written as an
    object with class information (a variable group's items)."""
    CLASS, SCHEMA = "CObList", 0

    def __init__(self, items):
        self.items = items

    def serialize(self, ar):
        ar.object_list(self.items)


# ---------------------------------------------------------------- inserts

class Insert:
    """The record every insert shares. The writer's defaults are those of a
    freshly reset insert, except `active` (1, so the runner plays it)."""
    CLASS, SCHEMA = "CInsert", 0

    def __init__(self, name="", **fields):
        self.name = name
        self.comment = ""
        self.auxText1 = ""
        self.auxText2 = ""
        self.flags = 0
        self.auxWord = 0
        self.auxLong = 0
        self.hotkeys = []          # (key, modifiers) pairs
        self.showMode = 1
        self.active = 1
        self.threaded = 0
        self.delayMs = 0
        self.auxValue = 0
        self.editorFlag = 1
        self.layer = 127
        self.rect = (0, 0, 64, 64)
        self.auxByte = 0
        self.runState = 0
        self.handlers = []         # Flow objects
        self.recordVersion = 5     # 1 to 5; each later version prefixes fields
        self.set(**fields)

    def set(self, **fields):
        for k, v in fields.items():
            if not hasattr(self, k):
                raise AttributeError("%s has no field %s" % (type(self).__name__, k))
            setattr(self, k, v)
        return self

    def handler(self, event_code, command, argument="", value=0):
        self.handlers.append(Flow(command, argument, value, eventCode=event_code))
        return self

    def serialize_common(self, ar):
        if len(self.handlers) > 255:
            raise ValueError("an insert carries at most 255 handlers")
        v = self.recordVersion
        if not 1 <= v <= 5:
            raise ValueError("insert record version %r is not 1 to 5" % v)
        ar.u16(v)
        if v >= 5:
            ar.string(self.auxText1)
            ar.string(self.auxText2)
            ar.u16(self.flags)
            ar.u16(self.auxWord)
        else:
            require_default(self, v, ("auxText1", "auxText2", "flags", "auxWord"), 5)
        if v >= 4:
            ar.u32(self.auxLong)
        else:
            require_default(self, v, ("auxLong",), 4)
        if v >= 3:
            ar.u32(len(self.hotkeys))
            for key, mods in self.hotkeys:
                ar.u32(key)
                ar.u32(mods)
        else:
            require_default(self, v, ("hotkeys",), 3)
        if v >= 2:
            ar.i32(self.showMode)
        else:
            require_default(self, v, ("showMode",), 2)
        ar.u32(self.active)
        ar.u8(self.threaded)
        ar.u32(self.delayMs)
        ar.u32(self.auxValue)
        ar.string(self.comment)
        ar.string(self.name)
        ar.u8(self.editorFlag)
        ar.u8(self.layer)
        for v in self.rect:
            ar.i32(v)
        ar.u8(self.auxByte)
        ar.u8(self.runState)
        ar.u8(len(self.handlers))
        for h in self.handlers:
            ar.write_object(h)

    def serialize(self, ar):
        self.serialize_common(ar)

    def common_fields(self):
        """The fields a dump of the record should show, by name."""
        f = {k: getattr(self, k) for k in (
            "name", "comment", "auxText1", "auxText2", "flags", "auxWord", "auxLong",
            "showMode", "active", "threaded", "delayMs", "auxValue", "layer", "rect",
            "runState")}
        f["loadedVersion"] = self.recordVersion
        return f

    def fields(self):
        return self.common_fields()


class Bottom(Insert):
    """The end marker every script closes with."""
    CLASS = "CBottom"

    def serialize(self, ar):
        self.serialize_common(ar)
        ar.u16(1)


class Flow(Insert):
    """A script flow command, as an insert or as an event handler."""
    CLASS = "CFlow"

    def __init__(self, command=0xFFFF, argument="", value=0, **fields):
        self.command = command
        self.argument = argument
        self.commandValue = value
        self.eventCode = 999999
        super().__init__(**fields)

    def serialize(self, ar):
        self.serialize_common(ar)
        ar.u16(1)
        ar.u16(self.command)
        ar.u32(self.commandValue)
        ar.u32(self.eventCode)
        ar.string(self.argument)

    def fields(self):
        f = self.common_fields()
        f.update(command=self.command, commandValue=self.commandValue,
                 eventCode=self.eventCode, argument=self.argument)
        return f


class Wait(Insert):
    CLASS = "CWait"

    # Version 1 stored a wait style in place of the condition bits; the reader
    # converts it. Styles that give each condition set:
    STYLE_OF_CONDITIONS = {4: 1, 252: 2, 124: 3, 184: 4, 120: 5, 0: 0}

    def __init__(self, timeout_ms=0, conditions=None, **fields):
        # Bit 4 ends the wait after the time-out; bit 2 alone waits for a stop.
        self.conditions = conditions if conditions is not None else (4 if timeout_ms else 2)
        self.timeoutMs = timeout_ms
        self.waitVersion = 2
        super().__init__(**fields)

    def serialize(self, ar):
        self.serialize_common(ar)
        ar.u16(self.waitVersion)
        if self.waitVersion == 1:
            if self.conditions not in self.STYLE_OF_CONDITIONS:
                raise ValueError("no version-1 wait style gives conditions %d" % self.conditions)
            ar.u16(self.STYLE_OF_CONDITIONS[self.conditions])
            ar.u32(self.timeoutMs)
            # 24 further bytes that the reader discards: u16, u32, u16, u16,
            # u32, u16, u16, u32, u16. Written as a recognisable pattern.
            for width, value in ((2, 0x1111), (4, 0x22222222), (2, 0x3333), (2, 0x4444),
                                 (4, 0x55555555), (2, 0x6666), (2, 0x7777), (4, 0x88888888),
                                 (2, 0x9999)):
                (ar.u16 if width == 2 else ar.u32)(value)
            return
        if self.waitVersion != 2:
            raise ValueError("wait version %r is not 1 or 2" % self.waitVersion)
        ar.u16(self.conditions)
        ar.u32(self.timeoutMs)

    def fields(self):
        f = self.common_fields()
        f.update(conditions=self.conditions, timeoutMs=self.timeoutMs)
        return f


class Label(Insert):
    """A jump target. Labels never carry an object name."""
    CLASS = "CLabel"

    def __init__(self, labelName="Label", **fields):
        self.labelName = labelName
        super().__init__(**fields)

    def serialize(self, ar):
        if self.name:
            raise ValueError("a label carries no object name")
        self.serialize_common(ar)
        ar.u16(1)
        ar.string(self.labelName)

    def fields(self):
        f = self.common_fields()
        f["labelName"] = self.labelName
        return f


class Jump(Insert):
    """A jump: 0 to the end, 1 to the top, 2 to a label, 3 back and 4
    forward by a count."""
    CLASS = "CJump"
    TO_END, TO_TOP, TO_LABEL, BACK, FORWARD = range(5)

    def __init__(self, jumpType=0, labelName="", **fields):
        self.jumpType = jumpType
        self.labelName = labelName
        self.counted = 0
        self.passCounter = 1
        self.backCount = 1
        self.forwardCount = 1
        super().__init__(**fields)

    def serialize(self, ar):
        self.serialize_common(ar)
        ar.u16(3)
        ar.u8(self.counted)
        ar.u32(self.passCounter)
        ar.u16(self.backCount)
        ar.u16(self.forwardCount)
        ar.u16(self.jumpType)
        ar.string(self.labelName)

    def fields(self):
        f = self.common_fields()
        for k in ("jumpType", "labelName", "counted", "passCounter", "backCount", "forwardCount"):
            f[k] = getattr(self, k)
        return f


class Operand:
    """A calculation or comparison operand: a variable name, or a constant
    (a number, or a text kept in the name field)."""

    def __init__(self, name="", constant=None):
        self.name = name
        self.isConstant = 1 if constant is not None or not name else 0
        self.value = float(constant) if isinstance(constant, (int, float)) else 0.0
        if isinstance(constant, str):
            self.name = constant


def write_constant_slots(ar, first, second):
    """The two constant flags, then the double of each constant operand."""
    ar.u8(first.isConstant)
    ar.u8(second.isConstant)
    for operand in (first, second):
        if operand.isConstant:
            ar.f64(operand.value)


def var(name):
    return Operand(name)


def const(value):
    return Operand(constant=value)


class Calc(Insert):
    """result := first (operator) second."""
    CLASS = "CCalc"
    ASSIGN, ADD, SUBTRACT, MULTIPLY, DIVIDE = range(5)

    def __init__(self, result, operator, first, second, groupName="", **fields):
        self.resultName = result
        self.operator = operator
        self.first = first
        self.second = second
        self.groupName = groupName
        self.calcValue = 0
        self.calcFlag = 0
        super().__init__(**fields)

    def serialize(self, ar):
        self.serialize_common(ar)
        ar.u16(2)
        ar.string(self.groupName)
        ar.u32(self.calcValue)
        ar.u16(self.operator)
        ar.string(self.resultName)
        ar.string(self.first.name)
        ar.string(self.second.name)
        ar.u8(self.calcFlag)
        write_constant_slots(ar, self.first, self.second)

    def fields(self):
        f = self.common_fields()
        f.update(resultName=self.resultName, operator=self.operator, groupName=self.groupName,
                 firstName=self.first.name, secondName=self.second.name,
                 firstIsConstant=self.first.isConstant, secondIsConstant=self.second.isConstant)
        return f


class Compare(Insert):
    """Compares two operands and runs the handler of the outcome (9007 to
    9012)."""
    CLASS = "CCompare"
    EQUAL, GREATER, LESS = 9007, 9009, 9010

    def __init__(self, first, second, groupName="", **fields):
        self.first = first
        self.second = second
        self.groupName = groupName
        self.compareValue = 0
        super().__init__(**fields)

    def serialize(self, ar):
        self.serialize_common(ar)
        ar.u16(2)
        ar.string(self.groupName)
        ar.u32(self.compareValue)
        ar.string(self.first.name)
        ar.string(self.second.name)
        write_constant_slots(ar, self.first, self.second)

    def fields(self):
        f = self.common_fields()
        f.update(groupName=self.groupName, firstName=self.first.name,
                 secondName=self.second.name, firstIsConstant=self.first.isConstant,
                 secondIsConstant=self.second.isConstant)
        # The reader sets showMode to -1 after a comparison.
        f["showMode"] = -1
        return f


class Timer(Insert):
    """A timer: periodic, one-shot or counted, raising "Timer period
    expired" (9023) each period."""
    CLASS = "CTimer"
    PERIODIC, ONE_SHOT, COUNTED = 1, 2, 3

    def __init__(self, name="", timerType=1, periodMs=1000, repeatCount=1, **fields):
        self.timerType = timerType
        self.periodMs = periodMs
        self.minPeriodMs = 1
        self.repeatCount = repeatCount
        self.timerEnabled = 1
        super().__init__(name, **fields)

    def serialize(self, ar):
        self.serialize_common(ar)
        ar.u16(1)
        for v in (self.timerType, self.periodMs, self.minPeriodMs, self.repeatCount,
                  self.timerEnabled):
            ar.u32(v)

    def fields(self):
        f = self.common_fields()
        for k in ("timerType", "periodMs", "minPeriodMs", "repeatCount", "timerEnabled"):
            f[k] = getattr(self, k)
        return f


class Variable:
    """One typed variable of a group. `value` is its initial value."""
    CLASS, SCHEMA = "CVarsItem", 0

    def __init__(self, name, type_, value=None, auxId=0, auxText=""):
        self.name = name
        self.type = type_
        self.value = value if value is not None else ("" if type_ == STRING else 0)
        self.auxId = auxId
        self.auxText = auxText

    def serialize(self, ar):
        ar.u16(1)
        ar.u32(self.auxId)
        ar.u16(self.type)
        ar.string(self.name)
        ar.string(self.auxText)
        v = self.value
        if self.type in (INT2, WORD, BOOL):
            # 16-bit types fill the first two bytes of the value slot.
            ar.u16(v)
        elif self.type in (INT4, DWORD):
            ar.u32(v)
        elif self.type == DOUBLE:
            ar.f64(float(v))
        elif self.type == STRING:
            ar.string(v)
        else:
            raise ValueError("unknown variable type %r" % self.type)

    def read_value(self):
        """The value as the player's typed reading shows it: Int2 and Bool
        signed 16-bit, Word unsigned, Int4 signed, DWord unsigned."""
        v = self.value
        if self.type in (INT2, BOOL):
            v &= 0xFFFF
            return v - 0x10000 if v & 0x8000 else v
        if self.type == WORD:
            return v & 0xFFFF
        if self.type == INT4:
            v &= 0xFFFFFFFF
            return v - 0x100000000 if v & 0x80000000 else v
        if self.type == DWORD:
            return v & 0xFFFFFFFF
        if self.type == STRING:
            # Text read in the wide form is converted to the ANSI code page; a
            # character that has no place there becomes "?", the system's
            # default character.
            return v.encode("cp1252", errors="replace").decode("cp1252")
        return v


class VarGroup(Insert):
    """A variable group ("Global Variables"). Its items are written as one
    list object with its own class tag, unlike a document's item list, which
    is a bare count and objects: the group's record calls for a list object
    with class information."""
    CLASS = "CVar"

    def __init__(self, groupName="", variables=(), groupFlag=0, groupValue=0, **fields):
        self.groupName = groupName
        self.variables = list(variables)
        self.groupFlag = groupFlag
        self.groupValue = groupValue
        super().__init__(**fields)

    def serialize(self, ar):
        self.serialize_common(ar)
        ar.u16(1)
        ar.u8(self.groupFlag)
        ar.string(self.groupName)
        ar.write_object(ObList(self.variables))
        ar.u32(self.groupValue)

    def fields(self):
        f = self.common_fields()
        f.update(groupName=self.groupName, groupFlag=self.groupFlag, groupValue=self.groupValue)
        return f


class Visible(Insert):
    """The part every on-stage insert adds after the common record."""
    CLASS = "CVisibleInsert"

    def __init__(self, name="", **fields):
        self.auxOption3 = 0
        self.auxWord2 = 0
        self.auxWord3 = 0
        self.auxWord4 = 0
        self.attachedSound = None
        self.scaleEnabled = 0
        self.scaleMode = 1283
        self.scaleAtLeft = self.scaleAtRight = 100
        self.scaleAtTop = self.scaleAtBottom = 100
        self.scaleAtFront = self.scaleAtBack = 100
        self.auxOption4 = 1
        self.showEffect = 0
        self.hideEffect = 0
        self.drawMode = 0
        self.showSpeed = 9
        self.hideSpeed = 9
        self.showParam1, self.showParam2 = 4, 8
        self.hideParam1, self.hideParam2 = 4, 8
        self.stretchPicture = 1
        self.auxOption1 = 1
        self.path = None            # a motion-path block as bytes, or None
        self.whenDone = 1
        self.displayTime = 0
        self.paletteMode = 0
        self.transparent = 0
        self.transparentColor = 0x00F0F8F8
        self.colorTolerance = 0
        self.cursorFile = ""
        self.cursorId = 0xFFFF
        self.auxWord1 = 0
        self.visibleVersion = 4    # 1 to 4
        super().__init__(name, **fields)

    def serialize_visible(self, ar):
        self.serialize_common(ar)
        v = self.visibleVersion
        if not 1 <= v <= 4:
            raise ValueError("visible-insert version %r is not 1 to 4" % v)
        ar.u16(v)
        if v >= 4:
            ar.u8(self.auxOption3)
            ar.u16(self.auxWord2)
            ar.u16(self.auxWord3)
            ar.u16(self.auxWord4)
        else:
            require_default(self, v, ("auxOption3", "auxWord2", "auxWord3", "auxWord4"), 4)
        if self.attachedSound is not None:
            raise NotImplementedError("attached sounds are not written by this writer")
        if v >= 3:
            ar.write_object(None)
        if v >= 2:
            for x in (self.scaleEnabled, self.scaleMode, self.scaleAtLeft, self.scaleAtRight,
                      self.scaleAtTop, self.scaleAtBottom, self.scaleAtFront, self.scaleAtBack):
                ar.u32(x)
            ar.u8(self.auxOption4)
        else:
            require_default(self, v, ("scaleEnabled", "scaleMode", "scaleAtLeft", "scaleAtRight",
                                      "scaleAtTop", "scaleAtBottom", "scaleAtFront",
                                      "scaleAtBack", "auxOption4"), 2)
        ar.u16(self.showEffect)
        ar.u16(self.hideEffect)
        ar.u16(self.drawMode)
        ar.u32(self.showSpeed)
        ar.u32(self.hideSpeed)
        ar.u16(self.showParam1)
        ar.u16(self.showParam2)
        ar.u16(self.hideParam1)
        ar.u16(self.hideParam2)
        ar.u8(self.stretchPicture)
        ar.u8(self.auxOption1)
        ar.u8(1 if self.path is not None else 0)
        if self.path is not None:
            ar.raw(self.path)
        ar.u8(self.whenDone)
        ar.u32(self.displayTime)
        ar.u8(self.paletteMode)
        ar.u8(self.transparent)
        ar.u32(self.transparentColor)
        ar.u8(self.colorTolerance)
        ar.string(self.cursorFile)
        ar.u16(self.cursorId)
        ar.u16(self.auxWord1)

    def visible_fields(self):
        f = self.common_fields()
        for k in ("showEffect", "hideEffect", "drawMode", "showSpeed", "hideSpeed",
                  "stretchPicture", "whenDone", "displayTime", "paletteMode", "transparent",
                  "transparentColor", "colorTolerance", "cursorFile", "cursorId",
                  "scaleEnabled", "scaleMode", "visibleVersion"):
            f[k] = getattr(self, k)
        f["hasPath"] = 0 if self.path is None else 1
        return f

    def serialize(self, ar):
        self.serialize_visible(ar)

    def fields(self):
        return self.visible_fields()


def path_block_size(path_type, point_count):
    """Total size of a motion-path block, header included, by its type."""
    sizes = {0: 6 * point_count + 16, 1: 10 * point_count + 20, 2: 18 * point_count + 28,
             3: 72, 4: 32 * point_count + 56}
    if path_type not in sizes:
        raise ValueError("motion-path type %r is not 0 to 4" % path_type)
    return sizes[path_type]


class PathNode:
    """One node of a type-4 motion path: the sprite's rectangle there by
    centre and size, the part of the picture shown, the pace, the layer, the
    kind of the segment that starts here and the event raised on arrival."""
    CURVE, LINE = 1, 2

    def __init__(self, x, y, width, height, source=(0, 0, 0, 0), stepDelay=0, minStep=1,
                 layer=127, segmentKind=2, segmentSpan=1, event=0):
        self.x, self.y, self.width, self.height = x, y, width, height
        self.source = source
        self.stepDelay = stepDelay
        self.minStep = minStep
        self.layer = layer
        self.segmentKind = segmentKind
        self.segmentSpan = segmentSpan
        self.event = event

    def to_bytes(self):
        return struct.pack("<iiBBHI4h4h", self.stepDelay, self.minStep, self.layer,
                           self.segmentKind, self.segmentSpan, self.event,
                           self.x, self.y, self.width, self.height, *self.source)


def type4_path(nodes, value=0):
    """A type-4 motion-path block: header (type, value, segment count), 12
    reserved bytes, then the nodes; 32 x segments + 56 bytes in all."""
    if len(nodes) < 1:
        raise ValueError("a path has at least one node")
    block = struct.pack("<iii", 4, value, len(nodes) - 1) + bytes(12)
    block += b"".join(n.to_bytes() for n in nodes)
    assert len(block) == path_block_size(4, len(nodes) - 1)
    return block


class Graphic(Visible):
    """Pen and drop shadow, shared by shapes and texts."""

    def __init__(self, name="", **fields):
        self.penStyle = 0
        self.penWidth = 1
        self.penColor = 0x00000000
        self.shadowX = 3
        self.shadowY = 3
        self.shadowColor = 0x00808080
        super().__init__(name, **fields)

    def serialize_graphic(self, ar):
        ar.u16(self.penStyle)
        ar.u16(self.penWidth)
        ar.u32(self.penColor)
        ar.i32(self.shadowX)
        ar.i32(self.shadowY)
        ar.u32(self.shadowColor)

    def graphic_fields(self):
        f = self.visible_fields()
        for k in ("penStyle", "penWidth", "penColor", "shadowX", "shadowY", "shadowColor"):
            f[k] = getattr(self, k)
        return f


class Rectangle(Graphic):
    """A filled rectangle. Schema 0 with the versionable flag: the class tag
    carries 0."""
    CLASS = "CRectangle"

    def __init__(self, name="", **fields):
        self.fillStyle = 0
        self.patternIndex = 0
        self.fillAux = 0
        self.textureFile = ""
        self.fillColor = 0x00C0C0C0
        self.fillBackColor = 0x00FFFFFF
        self.cornerWidth = 0
        self.cornerHeight = 0
        super().__init__(name, **fields)

    def serialize(self, ar):
        self.serialize_visible(ar)
        self.serialize_graphic(ar)
        ar.u8(self.fillStyle)
        ar.u8(self.patternIndex)
        ar.u32(self.fillAux)
        ar.string(self.textureFile)
        ar.u32(self.fillColor)
        ar.u32(self.fillBackColor)
        ar.i32(self.cornerWidth)
        ar.i32(self.cornerHeight)

    def fields(self):
        f = self.graphic_fields()
        for k in ("fillStyle", "patternIndex", "fillAux", "textureFile", "fillColor",
                  "fillBackColor", "cornerWidth", "cornerHeight"):
            f[k] = getattr(self, k)
        return f


class Font:
    """The stored font record. With `useDefault` set only the version and the
    flag are written."""

    def __init__(self, face=None, height=0, weight=400):
        self.useDefault = 1 if face is None else 0
        self.face = face or ""
        self.height = height
        self.weight = weight

    def serialize(self, ar):
        ar.u16(1)
        ar.u8(self.useDefault)
        if self.useDefault:
            return
        for v in (self.height, 0, 0, 0, self.weight):   # height, width, escapement, orientation, weight
            ar.i32(v)
        for v in (0, 0, 0, 0, 0, 0, 0, 0):              # italic ... pitch and family
            ar.u8(v)
        ar.string(self.face)


class Text(Graphic):
    """A text. Its own version word comes before everything else, the common
    record included: the text record puts its version first and then the
    visible-insert stored form, and that form begins with the common record.
    The font follows as its own record, without a class tag (the record is
    the font's own data, not an object reference)."""
    CLASS = "CText"

    def __init__(self, name="", text="", **fields):
        self.text = text
        self.charPlacement = 0
        self.textAux1 = ""
        self.textAux2 = ""
        self.fromFile = 0
        self.textFile = ""
        self.drawFlags = 0x0A10
        self.font = Font()
        self.textVersion = 3       # 1 to 3
        super().__init__(name, **fields)
        if "shadowX" not in fields:
            self.shadowX = 0
        if "shadowY" not in fields:
            self.shadowY = 0

    def serialize(self, ar):
        v = self.textVersion
        if not 1 <= v <= 3:
            raise ValueError("text version %r is not 1 to 3" % v)
        ar.u16(v)
        self.serialize_visible(ar)
        self.serialize_graphic(ar)
        if v >= 3:
            ar.u32(self.charPlacement)
            ar.string(self.textAux1)
            ar.string(self.textAux2)
        else:
            require_default(self, v, ("charPlacement", "textAux1", "textAux2"), 3)
        if v >= 2:
            ar.u32(self.fromFile)
            ar.string(self.textFile)
        else:
            require_default(self, v, ("fromFile", "textFile"), 2)
        ar.string(self.text)
        ar.u32(self.drawFlags)
        self.font.serialize(ar)

    def fields(self):
        f = self.graphic_fields()
        for k in ("text", "charPlacement", "textAux1", "textAux2", "fromFile", "textFile",
                  "drawFlags", "textVersion"):
            f[k] = getattr(self, k)
        return f


class Orlan(Visible):
    """An Orlan insert running a compiled script's "main" (mode 0) or acting
    as an extension object (mode non-zero)."""
    CLASS = "CBasic"

    def __init__(self, name="", script="", **fields):
        self.scriptPath = script
        self.alternatePath = ""
        self.extensionMode = 0
        self.reservedLong = 0
        self.reservedWord = 0
        super().__init__(name, **fields)

    def serialize(self, ar):
        self.serialize_visible(ar)
        ar.u16(1)
        ar.u32(self.reservedLong)
        ar.u16(self.extensionMode)
        ar.string(self.alternatePath)
        ar.string(self.scriptPath)
        ar.u16(self.reservedWord)

    def fields(self):
        f = self.visible_fields()
        f.update(scriptPath=self.scriptPath, alternatePath=self.alternatePath,
                 extensionMode=self.extensionMode)
        return f


# ------------------------------------------------------------ documents

class Node:
    """One project tree node."""
    CLASS, SCHEMA = "CProjNode", 0

    def __init__(self, path="", kind=0, level=1, description="", orlanFile="", note="",
                 extraWord=0, version=4):
        self.nodeVersion = version
        self.path = path
        self.kind = kind
        self.level = level
        self.description = description
        self.orlanFile = orlanFile
        self.note = note
        self.extraWord = extraWord

    def serialize(self, ar):
        v = self.nodeVersion
        if not 1 <= v <= 4:
            raise ValueError("tree node version %r is not 1 to 4" % v)
        if v == 1 and "." in self.path.replace("\\", "/").rsplit("/", 1)[-1]:
            # The reader gives a version-1 path the extension ".kvs"; whether
            # that replaces an extension already there is not settled, so such
            # a path is not written.
            raise ValueError("a version-1 tree node's path has no extension: " + self.path)
        ar.u16(v)
        if v >= 3:
            ar.string(self.description)
            ar.string(self.note)
            ar.string(self.orlanFile)
            ar.u16(self.extraWord)
        else:
            require_default(self, v, ("description", "note", "orlanFile", "extraWord"), 3)
        ar.u8(self.kind)
        ar.u16(self.level)
        ar.string(self.path)


    def read_path(self):
        """The path as the reader completes it."""
        return self.path + ".kvs" if self.nodeVersion == 1 else self.path


class ControlRecord:
    """One record of a project's control tables: five i32 and a text of at
    most 21 characters, single-byte (21 bytes and 3 of padding, 44 in all) or
    wide (u16 0xFFFE, 21 UTF-16 units and 1 byte of padding, 65 in all)."""

    def __init__(self, values, text, wide=False):
        if len(values) != 5 or len(text) > 21:
            raise ValueError("a control record has five values and at most 21 characters")
        self.values = values
        self.text = text
        self.wide = wide

    def serialize(self, ar):
        for v in self.values:
            ar.i32(v)
        if self.wide:
            ar.u16(0xFFFE)
            ar.raw(self.text.ljust(21, "\0").encode("utf-16-le"))
            ar.u8(0)
        else:
            ar.raw(self.text.ljust(21, "\0").encode("cp1252"))
            ar.raw(bytes(3))


class Stage:
    """Project-wide stage settings, written after the project tree."""

    def __init__(self, width=64, height=48, color=0x00FFFFFF, caption="Korvel"):
        self.clientWidth = width
        self.clientHeight = height
        self.clientColor = color
        self.stageStyle = 0x00040000
        self.stageRect = (0, 0, width, height)
        self.showCaption = 1
        self.stageCaption = caption
        self.frameColor = 0x00808080
        self.maximizeStage = 0
        self.placement = 1266
        self.placementX = 0
        self.placementY = 0
        self.placementOption = 1
        self.pageWord = 0
        self.presentationOption = 0
        self.auxFlag = 0
        self.keepCaptionOnRestart = 0
        self.exitKey = 27
        self.settingsWord = 0
        self.stageMode = 0
        self.stageShape = 0
        self.saverOption = 0
        self.tileBackImage = 1
        self.backImage = ""
        # Version 5's collection record and version 4's control tables: the
        # player reads and drops them, but they must be consumed exactly.
        self.collectionVersion = 3
        self.collectionBytes = (0, 0)        # version 3
        self.collectionLead = 0              # version 2 on
        self.collectionValues = (0, 0, 0, 0)
        self.collectionTexts = ("", "", "", "")
        self.collectionList = []
        self.controlTables = ([], [])        # lists of ControlRecord

    # The fields each document version adds, for refusing values an older
    # version cannot carry.
    ADDED = {8: ("tileBackImage", "backImage"),
             7: ("settingsWord", "stageMode", "stageShape", "saverOption"),
             6: ("keepCaptionOnRestart", "exitKey"),
             5: ("pageWord", "presentationOption", "auxFlag")}

    def serialize(self, ar, version=8):
        for v, names in self.ADDED.items():
            if version < v:
                require_default(self, version, names, v)
        # Each version's fields come first, then those of the version below.
        if version >= 8:
            ar.u8(self.tileBackImage)
            ar.string(self.backImage)
        if version >= 7:
            ar.u16(self.settingsWord)
            ar.u8(self.stageMode)
            ar.u8(self.stageShape)
            ar.u8(self.saverOption)
        if version >= 6:
            ar.u8(self.keepCaptionOnRestart)
            ar.u32(self.exitKey)
        if version >= 5:
            self.serialize_version5(ar)
        if version >= 4:
            ar.u32(44)                                  # the record size
            for table in self.controlTables:
                ar.u32(len(table))
                for record in table:
                    record.serialize(ar)
        if version >= 3:
            ar.u32(self.placement)
            ar.i32(self.placementX)
            ar.i32(self.placementY)
            ar.u32(self.placementOption)
        if version >= 2:
            ar.u32(self.frameColor)
            ar.u32(self.clientWidth)
            ar.u32(self.clientHeight)
            ar.u32(self.maximizeStage)
        ar.u32(self.clientColor)
        ar.u32(self.stageStyle)
        for v in self.stageRect:
            ar.i32(v)
        ar.u32(self.showCaption)
        ar.string(self.stageCaption)

    def serialize_version5(self, ar):
        v = self.collectionVersion
        if not 1 <= v <= 3:
            raise ValueError("collection record version %r is not 1 to 3" % v)
        ar.u16(v)
        if v >= 3:
            ar.u8(self.collectionBytes[0])
            ar.u8(self.collectionBytes[1])
        if v >= 2:
            ar.u32(self.collectionLead)
        for x in self.collectionValues:
            ar.u32(x)
        for t in self.collectionTexts:
            ar.string(t)
        ar.u32(len(self.collectionList))
        for t in self.collectionList:
            ar.string(t)
        ar.u16(self.pageWord)
        ar.u8(self.presentationOption)
        ar.u8(self.auxFlag)


class Document:
    """A project or script file: the header, the inserts and, for a project,
    the tree and the stage settings. The document is the archive's whole
    content, written by its own record (no class tag before it)."""

    def __init__(self, items, scene=False, background=False, defaultGroup="",
                 tree=None, stage=None, version=8):
        self.version = version     # 1 to 8: how much of the stage settings
        self.items = list(items)
        self.isScene = 1 if scene else 0
        self.isBackground = 1 if background else 0
        self.isProject = 1 if tree is not None else 0
        self.defaultGroup = defaultGroup
        self.tree = tree or []
        self.stage = stage or (Stage() if tree is not None else None)
        self.formatTag = FORMAT_TAG
        self.wideStrings = False
        self.leadLong = 20
        self.leadByte = 0
        self.headerFlags = bytes(6)
        self.headerWord = 0
        self.secondText = ""
        self.thirdText = ""
        if not self.items or not isinstance(self.items[-1], Bottom):
            # Every script closes with the end marker; the runner ends there.
            self.items.append(Bottom())

    def to_bytes(self):
        if not 1 <= self.version <= 8:
            raise ValueError("document version %r is not 1 to 8" % self.version)
        ar = Archive(self.wideStrings)
        ar.u16(self.version)
        ar.i32(self.leadLong)
        ar.u8(self.leadByte)
        ar.u16(self.formatTag)
        if self.formatTag == FORMAT_TAG:
            ar.u8(self.isProject)
            ar.u8(self.isBackground)
            ar.u8(self.isScene)
            ar.raw(self.headerFlags)
            ar.u32(self.headerWord)
            ar.string(self.defaultGroup)
            ar.string(self.secondText)
            ar.string(self.thirdText)
        elif (self.isProject or self.isBackground or self.isScene or any(self.headerFlags)
              or self.headerWord or self.defaultGroup or self.secondText or self.thirdText):
            # Without the extended header a document is a plain freestyle script.
            raise ValueError("a document without the extended header carries no flags or texts")
        ar.object_list(self.items)
        if self.isProject:
            ar.object_list(self.tree)
            self.stage.serialize(ar, self.version)
        return ar.bytes()

    def newest(self):
        """Whether every record is written in its newest version, as the
        player's own writer writes it."""
        def insert_newest(i):
            return (i.recordVersion == 5 and getattr(i, "visibleVersion", 4) == 4
                    and getattr(i, "textVersion", 3) == 3 and getattr(i, "waitVersion", 2) == 2
                    and all(insert_newest(h) for h in i.handlers))
        stage_newest = self.stage is None or (
            self.stage.collectionVersion == 3
            and not any(r.wide for table in self.stage.controlTables for r in table))
        return (self.version == 8 and self.formatTag == FORMAT_TAG and not self.wideStrings
                and stage_newest and all(insert_newest(i) for i in self.items)
                and all(n.nodeVersion == 4 for n in self.tree))

    def save(self, path):
        with open(path, "wb") as f:
            f.write(self.to_bytes())
