#!/usr/bin/env python3
"""Writes the inputs of bench/run.sh into a folder.

Usage: gen_inputs.py --out DIR [--size small|full] [--seed N]

Everything comes from one random.Random(seed), so the same seed and size give
the same bytes on every machine. The files:

  prose.txt           English-like prose, an address about every 2 KB
  ja.utf-8.txt        Japanese prose of the same kind, in UTF-8
  ja.sjis.txt         the same text in Shift_JIS (CP932)
  ja.eucjp.txt        ... in EUC-JP
  ja.jis.txt          ... in ISO-2022-JP
  refs.html           an HTML page of 20 MB with 200,000 numeric character
                      references, some of them spelling addresses
  mail.mbox           a mail archive with base64 attachments in 76-character lines
  mail-plain.mbox     an archive of text mails (English, and Japanese in UTF-8
                      and ISO-2022-JP, some multipart/alternative with HTML)
                      with their bodies as they are (8bit or 7bit)
  mail-encoded.mbox   the same mails with every body in base64 or
                      quoted-printable
  line-noat.txt       one 20 MB line of letters and digits
  line-atonly.txt     the same with an "@" and no domain after it
  line-addr.txt       the same with an address at its end
  addresses.txt       one address a line, 30% of them repeating an earlier one
                      in another letter case
  folder-5k/          prose.txt cut at line ends into files of about 5 KB
                      (10,000 files in full size)
  folder-500/         prose.txt cut at line ends into files of about 0.5 KB
                      (100,000 files in full size)
"""

import argparse
import base64
import os
import random

MB = 1000 * 1000

SIZES = {
    # name: (prose, japanese, mail, addresses, references page)
    "small": dict(prose=10 * MB, ja=10 * MB, mail=10 * MB, addresses=100_000),
    "full": dict(prose=50 * MB, ja=50 * MB, mail=100 * MB, addresses=1_000_000),
}
# The page and the long lines are the same in both sizes: they are cheap, and
# their targets are stated for these sizes. The folders hold files of these
# sizes, as many as the prose fills.
REFS_PAGE = 20 * MB
REFS_COUNT = 200_000
LONG_LINE = 20 * MB
FOLDER_FILE_SIZES = {"folder-5k": 5000, "folder-500": 500}

WORDS = (
    "the of and to in is for on with that by this from at as are be or an it not have was were will can "
    "mail list send reply meeting report office project schedule budget review please thanks regards team "
    "customer order invoice delivery contract quarter sales market product service support account update "
    "monday tuesday friday morning afternoon attached document draft final version question answer agenda"
).split()

DOMAINS = (
    "example.com example.jp example.co.jp mail.example.com example.ne.jp example.org example.net "
    "ml.example.ac.jp shop.example.co.uk example.info example.biz example.xyz"
).split()

LOCAL_CHARS = "abcdefghijklmnopqrstuvwxyz0123456789"

# Japanese phrases made of characters that CP932, EUC-JP and ISO-2022-JP all
# hold with the same meaning (no wave dash, minus or NEC extensions).
JA_PHRASES = (
    "会議の資料を送ります。 ご確認ください。 株式会社 担当者様 よろしくお願いいたします。 "
    "連絡先は以下のとおりです。 来週の打ち合わせについて 見積書を添付しました。 お世話になっております。 "
    "本日はありがとうございました。 納品日の件でご相談があります。 営業部 総務課 東京都千代田区 "
    "大阪支店 お問い合わせ窓口 請求書 契約書 予定表 議事録 新製品のご案内 価格表 "
    "ご不明な点がございましたら 下記までご連絡ください。 今後ともよろしくお願い申し上げます。"
).split()


def local_part(rng):
    n = rng.randint(3, 12)
    s = "".join(rng.choices(LOCAL_CHARS, k=n))
    if rng.random() < 0.3:
        s += "." + "".join(rng.choices(LOCAL_CHARS[:26], k=rng.randint(2, 6)))
    if not s[0].isalnum():
        s = "a" + s
    return s


def address(rng):
    return local_part(rng) + "@" + rng.choice(DOMAINS)


def english_pool(rng, n):
    pool = []
    for _ in range(n):
        words = rng.choices(WORDS, k=rng.randint(8, 16))
        line = " ".join(words)
        pool.append(line[0].upper() + line[1:] + ".")
    return pool


def japanese_pool(rng, n):
    return ["".join(rng.choices(JA_PHRASES, k=rng.randint(3, 7))) for _ in range(n)]


def prose(rng, pool, total, sep, addr_fmt, every=2000):
    """Lines from the pool; after every `every` bytes (UTF-8) one address."""
    parts = []
    size = 0
    since = 0
    while size < total:
        line = rng.choice(pool)
        if since >= every:
            since = 0
            addr = address(rng)
            line = line + sep + rng.choice(addr_fmt).format(addr)
        line += "\n"
        n = len(line.encode("utf-8"))
        parts.append(line)
        size += n
        since += n
    return "".join(parts)


def references_page(rng, total, count):
    """An HTML page; about one reference in ten spells part of an address."""
    head = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>&#12362;&#30693;&#12425;&#12379;</title></head><body>\n"
    parts = [head]
    size = len(head)
    refs = 2
    # One reference (or spelled address) with some words after it every
    # total / count bytes on average.
    # (about 1.8 references a chunk: the spelled addresses hold many).
    filler = max(1, (total * 9 // (5 * count) - 20) // 7)
    while size < total - 64:
        chunks = []
        for _ in range(4):
            kind = rng.random()
            if kind < 0.05:
                # An address with its "@" written as a reference.
                a = local_part(rng)
                chunks.append("<a href=\"mailto:{0}&#64;{1}\">{0}&#x40;{1}</a>".format(a, rng.choice(DOMAINS)))
                refs += 2
            elif kind < 0.08:
                # An address spelled entirely in decimal references.
                a = address(rng)
                chunks.append("".join("&#%d;" % ord(c) for c in a))
                refs += len(a)
            elif kind < 0.5:
                chunks.append("&#%d;" % rng.randint(0x3041, 0x3093))
                refs += 1
            elif kind < 0.7:
                chunks.append("&#x%X;" % rng.randint(0x4E00, 0x9FA0))
                refs += 1
            else:
                chunks.append(rng.choice(("&amp;", "&lt;", "&gt;", "&#169;", "&#8212;")))
                refs += 1 if "#" in chunks[-1] else 0
            chunks.append(" " + " ".join(rng.choices(WORDS, k=rng.randint(1, 2 * filler - 1))) + " ")
        para = "<p>" + "".join(chunks) + "</p>\n"
        parts.append(para)
        size += len(para)
    tail = "</body></html>\n"
    parts.append(tail)
    return "".join(parts), refs


def mail_archive(rng, total, pool):
    parts = []
    size = 0
    serial = 0
    while size < total:
        serial += 1
        sender = address(rng)
        to = ", ".join(address(rng) for _ in range(rng.randint(1, 3)))
        boundary = "=_b%08d" % serial
        body = "".join(rng.choice(pool) + "\n" for _ in range(rng.randint(5, 25)))
        if rng.random() < 0.3:
            body += "Please write to " + address(rng) + " for details.\n"
        msg = (
            "From {s} Mon Jan  1 00:00:00 2024\n"
            "From: {s}\nTo: {t}\nSubject: {subj}\nDate: Mon, 1 Jan 2024 09:00:00 +0900\n"
            "Message-ID: <{n}.{r}@mail.example.com>\nMIME-Version: 1.0\n"
            "Content-Type: multipart/mixed; boundary=\"{b}\"\n\n"
            "--{b}\nContent-Type: text/plain; charset=us-ascii\n\n{body}\n"
        ).format(s=sender, t=to, subj=rng.choice(pool)[:40], n=serial, r=rng.randint(0, 10**9), b=boundary, body=body)
        if rng.random() < 0.6:
            blob = rng.randbytes(rng.randint(4_000, 60_000))
            msg += (
                "--{b}\nContent-Type: application/octet-stream; name=\"file{n}.bin\"\n"
                "Content-Transfer-Encoding: base64\n\n{data}\n"
            ).format(b=boundary, n=serial, data=base64.encodebytes(blob).decode("ascii"))
        msg += "--{b}--\n\n".format(b=boundary)
        parts.append(msg)
        size += len(msg)
    return "".join(parts)


def quoted_printable(data):
    """Quoted-printable of bytes, soft line breaks at 76 columns."""
    out = []
    for line in data.split(b"\n"):
        cur = ""
        for b in line:
            piece = chr(b) if 33 <= b <= 126 and b != 61 else "=%02X" % b
            if len(cur) + len(piece) > 75:
                out.append(cur + "=")
                cur = ""
            cur += piece
        out.append(cur)
    return "\n".join(out)


def text_mail_pair(rng, total, en_pool, ja_pool):
    """The same text mails twice: bodies as they are, and every body in
    base64 or quoted-printable (half each)."""
    plain = []
    encoded = []
    size = 0
    serial = 0
    while size < total:
        serial += 1
        japanese = rng.random() < 0.5
        pool = ja_pool if japanese else en_pool
        lines = [rng.choice(pool) for _ in range(rng.randint(10, 60))]
        for _ in range(rng.randint(0, 3)):
            lines.insert(rng.randrange(len(lines) + 1), ("連絡先：" if japanese else "Contact: ") + address(rng))
        text = "\n".join(lines) + "\n"
        charset = rng.choice(("utf-8", "iso-2022-jp")) if japanese else "us-ascii"
        data = text.encode("iso2022_jp" if charset == "iso-2022-jp" else "utf-8")
        bodies = [("plain", data)]
        if rng.random() < 0.3:
            html = "<html><body><p>" + text.replace("\n", "<br>\n") + "</p></body></html>\n"
            bodies.append(("html", html.encode("iso2022_jp" if charset == "iso-2022-jp" else "utf-8")))
        use_base64 = rng.random() < 0.5
        head = (
            "From {s} Mon Jan  1 00:00:00 2024\n"
            "From: {s}\nTo: {t}\nSubject: message {n}\nDate: Mon, 1 Jan 2024 09:00:00 +0900\n"
            "Message-ID: <{n}.{r}@mail.example.com>\nMIME-Version: 1.0\n"
        ).format(s=address(rng), t=address(rng), n=serial, r=rng.randint(0, 10**9))
        for out, encode in ((plain, False), (encoded, True)):
            parts = []
            for subtype, body in bodies:
                if not encode:
                    cte = "8bit" if charset == "utf-8" else "7bit"
                    content = body.decode("ascii" if cte == "7bit" else "utf-8")
                elif use_base64:
                    cte, content = "base64", base64.encodebytes(body).decode("ascii")
                else:
                    cte, content = "quoted-printable", quoted_printable(body)
                parts.append(
                    "Content-Type: text/{st}; charset={c}\nContent-Transfer-Encoding: {e}\n\n{b}\n".format(
                        st=subtype, c=charset, e=cte, b=content
                    )
                )
            if len(parts) == 1:
                msg = head + parts[0] + "\n"
            else:
                b = "=_alt%08d" % serial
                msg = head + 'Content-Type: multipart/alternative; boundary="{b}"\n\n'.format(b=b)
                msg += "".join("--{b}\n{p}".format(b=b, p=p) for p in parts) + "--{b}--\n\n".format(b=b)
            out.append(msg)
        size += len(plain[-1].encode("utf-8"))
    return "".join(plain), "".join(encoded)


def alnum_line(rng, total):
    # A random block repeated: the bytes still look like noise to the scanner.
    block = "".join(rng.choices(LOCAL_CHARS + "ABCDEFGHIJKLMNOPQRSTUVWXYZ", k=65536))
    reps = total // len(block) + 1
    return (block * reps)[:total]


def address_list(rng, count):
    lines = []
    distinct = []
    for _ in range(count):
        if distinct and rng.random() < 0.3:
            a = rng.choice(distinct)
            a = "".join(c.upper() if rng.random() < 0.4 else c for c in a)
        else:
            a = "{}{}@{}".format(local_part(rng), len(distinct), rng.choice(DOMAINS))
            distinct.append(a)
        lines.append(a)
    return "\n".join(lines) + "\n"


def write(path, data):
    mode = "wb" if isinstance(data, bytes) else "w"
    kwargs = {} if isinstance(data, bytes) else {"encoding": "utf-8", "newline": "\n"}
    with open(path, mode, **kwargs) as f:
        f.write(data)


def split_into_files(text, folder, count):
    """Cuts text at line ends into `count` files of about the same size."""
    os.makedirs(folder, exist_ok=True)
    data = text.encode("utf-8")
    per = len(data) // count
    start = 0
    for i in range(count):
        if i == count - 1:
            end = len(data)
        else:
            end = data.find(b"\n", max(start, (i + 1) * per)) + 1
            if end == 0:
                end = len(data)
        # Six digits and a sorted walk keep the files in the order of the text.
        with open(os.path.join(folder, "f%06d.txt" % i), "wb") as f:
            f.write(data[start:end])
        start = end


def main():
    ap = argparse.ArgumentParser(description="Writes the inputs of bench/run.sh.")
    ap.add_argument("--out", required=True)
    ap.add_argument("--size", choices=sorted(SIZES), default="small")
    ap.add_argument("--seed", type=int, default=42)
    args = ap.parse_args()
    sz = SIZES[args.size]
    rng = random.Random(args.seed)
    out = args.out
    os.makedirs(out, exist_ok=True)

    en_pool = english_pool(rng, 4000)
    text = prose(rng, en_pool, sz["prose"], " ", ("<{}>", "{}", "mailto:{}", "({})", "{},", "\"{}\""))
    write(os.path.join(out, "prose.txt"), text)
    size = len(text.encode("utf-8"))
    for name, per_file in FOLDER_FILE_SIZES.items():
        split_into_files(text, os.path.join(out, name), max(1, size // per_file))
    del text

    ja_pool = japanese_pool(rng, 4000)
    ja = prose(rng, ja_pool, sz["ja"], "連絡先：", ("{} まで", "<{}>", "（{}）", "{}、"))
    write(os.path.join(out, "ja.utf-8.txt"), ja)
    write(os.path.join(out, "ja.sjis.txt"), ja.encode("cp932"))
    write(os.path.join(out, "ja.eucjp.txt"), ja.encode("euc_jp"))
    write(os.path.join(out, "ja.jis.txt"), ja.encode("iso2022_jp"))
    del ja

    page, refs = references_page(rng, REFS_PAGE, REFS_COUNT)
    write(os.path.join(out, "refs.html"), page)
    del page

    write(os.path.join(out, "mail.mbox"), mail_archive(rng, sz["mail"], en_pool))

    line = alnum_line(rng, LONG_LINE)
    write(os.path.join(out, "line-noat.txt"), line + "\n")
    write(os.path.join(out, "line-atonly.txt"), line + "@\n")
    write(os.path.join(out, "line-addr.txt"), line + "@example.com\n")
    del line

    write(os.path.join(out, "addresses.txt"), address_list(rng, sz["addresses"]))

    # A generator of its own, so that the files above stay as they were.
    mail_rng = random.Random(args.seed * 7919 + 1)
    plain, encoded = text_mail_pair(mail_rng, sz["mail"], en_pool, japanese_pool(mail_rng, 4000))
    write(os.path.join(out, "mail-plain.mbox"), plain)
    write(os.path.join(out, "mail-encoded.mbox"), encoded)
    del plain, encoded
    print("references in refs.html:", refs)


if __name__ == "__main__":
    main()
