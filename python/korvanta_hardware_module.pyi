# Types of korvanta_hardware_module, the identity library for CPython 3.10.
# No argument can be passed by keyword. Every call holds the interpreter lock,
# so calls from several threads reach the library one at a time. A text the
# library returns is a new str, decoded as UTF-8: bytes that are not UTF-8
# raise UnicodeDecodeError. Failures of the store are values (the library
# prints why on standard error); a refused argument raises TypeError.
from typing import ClassVar, SupportsIndex, SupportsInt

class info:
    """The unit's identity, read once when the instance is made."""
    def __init__(self) -> None: ...
    def get_uuid(self) -> str:
        """The robot identifier, or "null"."""
    def get_machine_id(self) -> str:
        """The robot identifier again, the same text as get_uuid()."""
    def get_cpu_serial_number(self) -> str:
        """The value of the Serial line in /proc/cpuinfo, or "null"."""
    def get_hardware_info(self, key: str | bytes, /) -> str:
        """Keys "uuid", "cpu_serial_number", "serial", matched whole; any other gives "null"."""

class hardInfo:
    """A handle on the unit's identity, read once when the instance is made;
    the module functions below take it. Freed when the instance goes."""
    def __init__(self) -> None: ...

# Codes as read when h was made: an unreadable version is 65535
# (ROBOT_VERSION_UNKNOWN), an unreadable board type or status 0 (the C++ class
# gives -1 for all three). Names are "UNKNOWN" for a code without one; the
# version is named from STATION_VERSION_ENUM on a station board.
def get_version_code(h: hardInfo, /) -> int: ...
def get_version_str(h: hardInfo, /) -> str: ...
def get_board_type_code(h: hardInfo, /) -> int: ...
def get_board_type_str(h: hardInfo, /) -> str: ...
def get_robot_status_code(h: hardInfo, /) -> int: ...
def get_robot_status_str(h: hardInfo, /) -> str: ...
# Writes go to the store and return whether it took the value; h, and info
# instances made before, keep what they read. Texts are seen up to a NUL and
# must be exactly 32 bytes (a str as UTF-8): on an EEPROM hexadecimal digits,
# either case, read back in lowercase; in a file any bytes but a line feed.
# Anything else returns False with a message.
def write_uuid(h: hardInfo, uuid: str | bytes, /) -> bool: ...
# A whole number 0..65535 (an int, an enumeration member, any object with
# __index__ or __int__); one with a fraction, 5.0 or Decimal("5.5"), is refused.
def write_robot_status(h: hardInfo, status: SupportsIndex | SupportsInt, /) -> bool: ...
def write_serial(h: hardInfo, serial: str | bytes, /) -> bool: ...

# Not a class of the module: what its four enumeration types have in common.
# Members compare equal to ints of the same value; there is no ordering.
class _Enum:
    def __init__(self, value: int, /) -> None: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    def __index__(self) -> int: ...
    def __int__(self) -> int: ...
    def __getstate__(self) -> int: ...
    def __setstate__(self, state: int, /) -> None: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

class ROBOT_STATUS_ENUM(_Enum):
    __members__: ClassVar[dict[str, ROBOT_STATUS_ENUM]]
    STATUS_UNKNOWN: ClassVar[ROBOT_STATUS_ENUM]
    STATUS_MACHINE_TEST: ClassVar[ROBOT_STATUS_ENUM]
    STATUS_TESTING: ClassVar[ROBOT_STATUS_ENUM]
    STATUS_QA_TEST: ClassVar[ROBOT_STATUS_ENUM]
    STATUS_PRE_RELEASE: ClassVar[ROBOT_STATUS_ENUM]
    STATUS_RELEASE: ClassVar[ROBOT_STATUS_ENUM]
    STATUS_PROD_0: ClassVar[ROBOT_STATUS_ENUM]
    STATUS_PROD_1: ClassVar[ROBOT_STATUS_ENUM]
    STATUS_PROD_2: ClassVar[ROBOT_STATUS_ENUM]

STATUS_UNKNOWN: ROBOT_STATUS_ENUM
STATUS_MACHINE_TEST: ROBOT_STATUS_ENUM
STATUS_TESTING: ROBOT_STATUS_ENUM
STATUS_QA_TEST: ROBOT_STATUS_ENUM
STATUS_PRE_RELEASE: ROBOT_STATUS_ENUM
STATUS_RELEASE: ROBOT_STATUS_ENUM
STATUS_PROD_0: ROBOT_STATUS_ENUM
STATUS_PROD_1: ROBOT_STATUS_ENUM
STATUS_PROD_2: ROBOT_STATUS_ENUM

# Code 4 ("SIMULATION_BOARD") has a name but no member.
class BOARD_TYPE_ENUM(_Enum):
    __members__: ClassVar[dict[str, BOARD_TYPE_ENUM]]
    BOARD_TYPE_UNKNOWN: ClassVar[BOARD_TYPE_ENUM]
    BOARD_ROBOT: ClassVar[BOARD_TYPE_ENUM]
    BOARD_AI: ClassVar[BOARD_TYPE_ENUM]
    BOARD_STATION: ClassVar[BOARD_TYPE_ENUM]

BOARD_TYPE_UNKNOWN: BOARD_TYPE_ENUM
BOARD_ROBOT: BOARD_TYPE_ENUM
BOARD_AI: BOARD_TYPE_ENUM
BOARD_STATION: BOARD_TYPE_ENUM

class ROBOT_VERSION_ENUM(_Enum):
    __members__: ClassVar[dict[str, ROBOT_VERSION_ENUM]]
    ROBOT_VERSION_UNKNOWN: ClassVar[ROBOT_VERSION_ENUM]
    ROBOT_VERSION_KORVANTA_DVT1: ClassVar[ROBOT_VERSION_ENUM]
    ROBOT_VERSION_KORVANTA_DVT2: ClassVar[ROBOT_VERSION_ENUM]
    ROBOT_VERSION_KORVANTA_PRO_EVT: ClassVar[ROBOT_VERSION_ENUM]
    ROBOT_VERSION_TALVORN_EVT: ClassVar[ROBOT_VERSION_ENUM]
    ROBOT_VERSION_TALVORN_DVT: ClassVar[ROBOT_VERSION_ENUM]
    ROBOT_VERSION_TALVORN_PVT: ClassVar[ROBOT_VERSION_ENUM]

ROBOT_VERSION_UNKNOWN: ROBOT_VERSION_ENUM
ROBOT_VERSION_KORVANTA_DVT1: ROBOT_VERSION_ENUM
ROBOT_VERSION_KORVANTA_DVT2: ROBOT_VERSION_ENUM
ROBOT_VERSION_KORVANTA_PRO_EVT: ROBOT_VERSION_ENUM
ROBOT_VERSION_TALVORN_EVT: ROBOT_VERSION_ENUM
ROBOT_VERSION_TALVORN_DVT: ROBOT_VERSION_ENUM
ROBOT_VERSION_TALVORN_PVT: ROBOT_VERSION_ENUM

class STATION_VERSION_ENUM(_Enum):
    __members__: ClassVar[dict[str, STATION_VERSION_ENUM]]
    STATION_VERSION_UNKNOWN: ClassVar[STATION_VERSION_ENUM]
    STATION_VERSION_OLD: ClassVar[STATION_VERSION_ENUM]
    STATION_VERSION_2024_930: ClassVar[STATION_VERSION_ENUM]

STATION_VERSION_UNKNOWN: STATION_VERSION_ENUM
STATION_VERSION_OLD: STATION_VERSION_ENUM
STATION_VERSION_2024_930: STATION_VERSION_ENUM
