#!/usr/bin/env python3
"""Writes the committed seed corpus of the fuzz targets (tests/fuzz/corpus/<target>/).

Every input is read as Big5 or GB2312 and again as UTF-8; the utf8-* texts give the second reading
something to convert.

Each seed starts with the byte that picks direction and dictionary (bit 0: 0 Big5 -> GB2312,
1 GB2312 -> Big5; bits 1-2: 0 identity table, 1 or 3 mixed table, 2 table with failing rows).
convert_lines seeds then hold their block plan: bit 3 of the first byte hands atEnd over with
the last bytes, bit 4 moves the output out as a run writes it, bit 5 makes the view throw at
replacement 1 + bits 6-7; a byte L and L block sizes follow.
Everything is bytes; nothing here passes through a text codec.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

TO_GB, TO_BIG5 = 0, 1
IDENTITY, MIXED, FAILING = 0 << 1, 1 << 1, 2 << 1
AT_END_WITH_LAST, FLUSH = 1 << 3, 1 << 4


def abandon_at(replacement):
    return 1 << 5 | (replacement - 1) << 6


# 中國網站轉換 in Big5 and 中国网站转换 in GB2312 (the mixed table holds these pairs);
# 這個語 and 这个语.
BIG5_TEXT = bytes.fromhex("A4A4 B0EA BAF4 AFB8 C2E0 B4AB") + b" " + bytes.fromhex("B36F ADD3 BB79")
GB_TEXT = bytes.fromhex("D6D0 B9FA CDF8 D5BE D7AA BBBB") + b" " + bytes.fromhex("D5E2 B8F6 D3EF")

TEXTS = {
    "big5-page": b'<meta http-equiv="Content-Type" content="text/html; charset=big5">\r\n'
                 b'<meta http-equiv="Content-Language" content="zh-tw">\r\n<p>' + BIG5_TEXT + b"</p>\r\n",
    "gb2312-page": b"<meta charset=\"gb2312\">\n<meta name=language content=\"zh-cn\">\n<p>" + GB_TEXT + b"</p>\n",
    "declaration-spellings": b"Charset=BIG5 CHARSET=\"Big5\" charset='big5' CONTENT=\"ZH-TW\" content='zh-tw'\n"
                             b"charset=GB2312 Charset=\"gb2312\" charset='GB2312' content=\"Zh-Cn\"\n"
                             b"charset = big5 charset=\"\"big5 charset=big5-hkscs chcharset=big5 charset=big\n"
                             b"charset=\nbig5 content=\"zh-\rtw charset=gb231",
    "mixed-terminators": b"a\r\nb\rc\n\nd\r\r\ne\n\r" + BIG5_TEXT + b"\r",
    "lone-lead-bytes": b"\xB0\n\xA4\r\n\xC2\r x \xB0\xEA\xB0\n\x81\r\r\xFE",
    # 0x80 and 0xFF are no lead bytes: what follows them starts a character of its own.
    "not-lead-bytes": b"\x80\xB0\xEA \xA4\xA4\xFF\xB0\xEA\xA4\xA4\x80\xB0\xEA\xA4\xA4\xFFcharset=big5 "
                      b"\xFF\xB0\xEA \xFFcharset=big5 \x80content=\"zh-tw \xFF\xA4\xA4\xFF\n\x80",
    "nul-bytes": b"a\0b\0\xB0\0c\0harset=big5\0\n\0\0\r\0",
    "trail-bytes-like-c": b"\xA4\x63harset=big5 \xA5\x63harset=big5 \xA1\x43ontent=\"zh-tw\n\x81\x63\x9A\x43"
                          b"\xA4\x63\xA4\x63",
    "high-bytes": bytes(range(0x80, 0x100)) + b"\n" + bytes(range(0xFF, 0x7F, -1)) + b"\n" + bytes(range(0, 0x80)),
    "count-carry": bytes.fromhex("B0EA") * 120 + b"\n" + bytes.fromhex("B9FA") * 120,
    # The same pages in UTF-8, and sequences that are no characters: overlong forms, surrogates,
    # lone continuation bytes, cut short at a line end or at the end, four bytes.
    "utf8-big5-page": b'<meta charset="utf-8">\r\n<meta content="zh-tw">\r\n<p>' +
                      BIG5_TEXT.decode("big5").encode("utf-8") + b"</p>\r\n",
    "utf8-gb2312-page": b"\xEF\xBB\xBF<meta charset=big5>\n<meta content=\"zh-cn\">\n<p>" +
                        GB_TEXT.decode("gb2312").encode("utf-8") * 3 + b"</p>\n",
    "utf8-malformed": b"\xC0\xAF\xE0\x80\xAF\xE0\x82\xB7\xED\xA0\x80\xF4\x90\x80\x80\x80\xBF\xE4\xB8\n\xE4\r"
                      b"\xF0\x9F\x98\x80\xC2\xB7\xE2\x80\xA7\xE4\xB8\xAD\xE5",
}

# Lines whose lookup fails in the table with failing rows: C0C0 in Big5, B0B0 in GB.
FAILING_TEXTS = {
    "failing-big5": b"first line " + BIG5_TEXT + b"\r\nsecond \xB0\xEA \xC0\xC0 rest\n\nafter\n",
    "failing-gb2312": b"first line " + GB_TEXT + b"\nsecond \xD6\xD0\xB0\xB0\r\n\rafter",
}

SEEDS = {
    "convert_line": [
        ("big5-page", TO_GB | MIXED), ("gb2312-page", TO_BIG5 | MIXED),
        ("big5-page", TO_GB | IDENTITY), ("gb2312-page", TO_BIG5 | IDENTITY),
        ("declaration-spellings", TO_GB | MIXED), ("declaration-spellings", TO_BIG5 | MIXED),
        ("mixed-terminators", TO_GB | MIXED), ("lone-lead-bytes", TO_GB | MIXED),
        ("nul-bytes", TO_GB | IDENTITY), ("not-lead-bytes", TO_GB | MIXED), ("trail-bytes-like-c", TO_GB | MIXED),
        ("high-bytes", TO_BIG5 | MIXED), ("high-bytes", TO_GB | IDENTITY), ("count-carry", TO_GB | MIXED),
        ("failing-big5", TO_GB | FAILING), ("failing-gb2312", TO_BIG5 | FAILING),
        ("utf8-big5-page", TO_GB | MIXED), ("utf8-gb2312-page", TO_BIG5 | MIXED), ("utf8-malformed", TO_GB | MIXED),
    ],
    "convert_lines": [
        ("big5-page", TO_GB | MIXED, []), ("gb2312-page", TO_BIG5 | MIXED | FLUSH, [7, 1, 16]),
        ("big5-page", TO_GB | IDENTITY | AT_END_WITH_LAST, [1]), ("gb2312-page", TO_BIG5 | IDENTITY, [3, 0, 2]),
        ("declaration-spellings", TO_GB | MIXED, [1]), ("declaration-spellings", TO_BIG5 | MIXED | FLUSH, [5, 13, 0]),
        ("mixed-terminators", TO_GB | MIXED | AT_END_WITH_LAST, [1]), ("mixed-terminators", TO_BIG5 | MIXED, [2, 3]),
        ("lone-lead-bytes", TO_GB | MIXED, [1]), ("lone-lead-bytes", TO_BIG5 | IDENTITY | AT_END_WITH_LAST, [3]),
        ("nul-bytes", TO_GB | IDENTITY, [4, 1]), ("not-lead-bytes", TO_GB | MIXED, [1]),
        ("trail-bytes-like-c", TO_GB | MIXED, [1, 2]),
        ("high-bytes", TO_BIG5 | MIXED | FLUSH, [17, 23]), ("high-bytes", TO_GB | IDENTITY, [2, 1]),
        ("count-carry", TO_GB | MIXED | FLUSH, [9]),
        ("failing-big5", TO_GB | FAILING, [1]), ("failing-gb2312", TO_BIG5 | FAILING | FLUSH, [6, 0]),
        ("failing-big5", TO_GB | FAILING | AT_END_WITH_LAST, []),
        ("big5-page", TO_GB | MIXED | abandon_at(1), []), ("count-carry", TO_GB | MIXED | abandon_at(3), [5]),
        ("gb2312-page", TO_BIG5 | IDENTITY | FLUSH | abandon_at(4), [1]),
        ("utf8-big5-page", TO_GB | MIXED, [5, 1]), ("utf8-gb2312-page", TO_BIG5 | MIXED | FLUSH, [2, 7]),
        ("utf8-malformed", TO_GB | MIXED | AT_END_WITH_LAST, [1]), ("utf8-malformed", TO_BIG5 | IDENTITY, [3]),
        ("utf8-big5-page", TO_GB | MIXED | abandon_at(2), [4]),
    ],
}


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main():
    texts = dict(TEXTS, **FAILING_TEXTS)
    for target, seeds in SEEDS.items():
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for seed in seeds:
            name, config = seed[0], seed[1]
            direction = "to-gb2312" if config & 1 == 0 else "to-big5"
            table = {IDENTITY: "identity", MIXED: "mixed", FAILING: "failing"}[config & 6]
            data = bytes([config])
            file_name = f"{name}.{direction}.{table}"
            if target == "convert_lines":
                sizes = seed[2]
                data += bytes([len(sizes)] + sizes)
                plan = "whole" if not sizes else "blocks-" + "-".join(map(str, sizes))
                file_name += "." + plan
                if config & AT_END_WITH_LAST:
                    file_name += ".at-end-with-last"
                if config & FLUSH:
                    file_name += ".flushed"
                if config & 1 << 5:
                    file_name += f".view-abandons-at-{(config >> 6) + 1}"
            write(os.path.join(folder, file_name), data + texts[name])
    return 0


if __name__ == "__main__":
    sys.exit(main())
