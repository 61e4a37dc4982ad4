"""The zip users download and the checks of what goes into it: the guides
(UTF-8 with a byte order mark and CR LF, so that Notepad on every Windows
since XP shows the Cyrillic), SHA256SUMS, and a zip whose bytes depend only
on its files and the commit time."""

import hashlib
import time
import zipfile

BOM = b"\xef\xbb\xbf"
DLL = "ZVK_Gamma.dll"
GUIDES = ("README-ru.txt", "README-en.txt")
SUMS = "SHA256SUMS"
ENTRIES = (DLL,) + GUIDES + (SUMS,)


def guide_bytes(source_text, version):
    """A guide as shipped, from its source (UTF-8, LF): @VERSION@ filled in,
    a byte order mark, CR LF line ends."""
    text = source_text.replace("@VERSION@", version)
    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()
    return BOM + "".join(line.rstrip() + "\r\n" for line in lines).encode("utf-8")


def guide_problems(name, data, required_texts, version):
    """What is wrong with a shipped guide, as a list of sentences."""
    problems = []
    if not data.startswith(BOM):
        problems.append("%s: no UTF-8 byte order mark" % name)
    try:
        text = data[len(BOM):].decode("utf-8") if data.startswith(BOM) else data.decode("utf-8")
    except UnicodeDecodeError as error:
        return problems + ["%s: not UTF-8 (%s)" % (name, error)]
    bare = text.replace("\r\n", "")
    if "\n" in bare or "\r" in bare:
        problems.append("%s: a line does not end in CR LF" % name)
    if not text.endswith("\r\n"):
        problems.append("%s: the last line does not end in CR LF" % name)
    for wanted in required_texts:
        if wanted not in text:
            problems.append("%s: the window's text \"%s\" is missing" % (name, wanted))
    if version not in text:
        problems.append("%s: version %s is not named" % (name, version))
    return problems


def sums_text(files):
    """SHA256SUMS for [(name, bytes)], in the form sha256sum -c reads."""
    return "".join("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name) for name, data in files).encode("ascii")


def zip_time(epoch):
    # Zip times have two-second steps and no zone: the commit's UTC time.
    return time.gmtime(epoch)[:6]


def write_zip(path, files, epoch):
    """Writes [(name, bytes)] in the given order, each with the time of the
    commit and the same attributes, so the zip depends on nothing else."""
    stamp = zip_time(epoch)
    with zipfile.ZipFile(path, "w") as archive:
        for name, data in files:
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0
            info.external_attr = 0
            archive.writestr(info, data, compresslevel=9)


def zip_problems(path, epoch):
    """What is wrong with a release zip: its entries, their times, the sums."""
    problems = []
    with zipfile.ZipFile(path) as archive:
        names = [info.filename for info in archive.infolist()]
        if names != list(ENTRIES):
            problems.append("zip holds %s, expected %s in this order" % (names, list(ENTRIES)))
        stamp = zip_time(epoch)
        for info in archive.infolist():
            if info.date_time != (stamp[0], stamp[1], stamp[2], stamp[3], stamp[4], stamp[5] // 2 * 2):
                problems.append("zip: %s is dated %s, not the commit's %s" % (info.filename, info.date_time, stamp))
        if archive.testzip() is not None:
            problems.append("zip: %s is damaged" % archive.testzip())
        if SUMS in names:
            listed = {}
            for line in archive.read(SUMS).decode("ascii").splitlines():
                digest, _, name = line.partition("  ")
                listed[name] = digest
            wanted = [n for n in names if n != SUMS]
            if sorted(listed) != sorted(wanted):
                problems.append("%s lists %s, the zip holds %s" % (SUMS, sorted(listed), sorted(wanted)))
            for name in wanted:
                if name in listed and listed[name] != hashlib.sha256(archive.read(name)).hexdigest():
                    problems.append("%s: wrong hash of %s" % (SUMS, name))
    return problems
