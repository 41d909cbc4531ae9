#!/usr/bin/env python3
"""Writes the seed corpora of fuzz/corpus/<target>/ from the host tests' cases.

Most targets read their input through FuzzedDataProvider: numbers come from the end of the
input, strings and the rest from the front. Seed builds each input in the order the target
reads it, so that the seeds start the fuzzers at the tests' cases rather than at noise.
Run from anywhere; it replaces the seed files it writes (names seed-*)."""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


class Seed:
    def __init__(self):
        self.front = bytearray()
        self.back = bytearray()  # in the order consumed from the end

    def integral(self, value, lo, hi, size):
        span = hi - lo
        r = value - lo
        assert 0 <= r <= span
        count = 0
        while count < size and (span >> (8 * count)) > 0:
            count += 1
        for i in reversed(range(count)):  # the first byte consumed is the most significant
            self.back.append((r >> (8 * i)) & 0xFF)
        return self

    def u8(self, v): return self.integral(v, 0, 255, 1)
    def u32(self, v): return self.integral(v, 0, 2**32 - 1, 4)
    def i32(self, v): return self.integral(v, -2**31, 2**31 - 1, 4)
    def u64(self, v): return self.integral(v, 0, 2**64 - 1, 8)
    def i64(self, v): return self.integral(v, -2**63, 2**63 - 1, 8)
    def boolean(self, v): return self.u8(1 if v else 0)

    def string(self, text):
        """A ConsumeRandomLengthString piece: backslashes doubled, ended by a backslash pair."""
        if isinstance(text, str):
            text = text.encode('latin-1')
        self.front += text.replace(b'\\', b'\\\\') + b'\\n'
        return self

    def rest(self, data):
        if isinstance(data, str):
            data = data.encode('latin-1')
        self.front += data
        return self

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))


def write(target, seeds):
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    for old in os.listdir(folder):
        if old.startswith('seed-'):
            os.remove(os.path.join(folder, old))
    for i, data in enumerate(seeds):
        with open(os.path.join(folder, 'seed-%02d' % i), 'wb') as f:
            f.write(data.bytes() if isinstance(data, Seed) else data)


PACKED = [b'\x80\x20\x00\x00', b'\xc1\x30\x00\x00', b'\x81\x7f\x7f\x7f', b'\x3f\x20\x00\x00',
          b'\x40\x20\x00\x00', b'\x80\x00\x00\x00']
REPLIES = [b'VENDREL,RZT7680,12345,1.02\r\n', b'1.234E-3\n', b'ok\r\n', b'\r\n\r\n', b'A\x00B\rC\n',
           b'MEAS ' + PACKED[0] + b',' + PACKED[1] + b'\n']


def reply_line():
    seeds = []
    for flags in (0x01, 0x00, 0x05, 0x11, 0x0F):
        for r in REPLIES:
            seeds.append(r + bytes([flags]))
    seeds.append(b'x' * 60 + b'\xe1')        # one line past the reply buffer
    seeds.append(PACKED[1] * 16 + b'\xe1')   # packed values past it
    seeds.append(b'abc\nxyz\xe1')
    return seeds


def packed():
    seeds = []
    for p in PACKED:
        for cap in (0, 1, 5, 13, 80):
            s = Seed().boolean(True).integral(cap, 0, 80, 8).rest(p + b'tail' + p[:2])
            seeds.append(s)
    seeds.append(Seed().boolean(False).integral(10, 0, 80, 8).rest(b'\xff\xfe plain'))
    return seeds


PANEL_RECORDS = [
    # kind, model, idn, version, calVersion, calibration
    (1, 1, 'VENDREL,RZT76,12345,1.02', 'V,RZT,1.0,2.0,3.0,4.0', '12_Mar_2021', '01_Jan_2020,x'),
    (2, 16, 'V,RZT86,777', 'V,T,A,B', '1_2_3', 'default_cal'),
    (3, 5, 'V,JKE20,1', '', '', '15_Sept_2024'),
    (1, 4, 'V,RZT26,9', 'a,b,c,d,e,f,g', 'x__y', '1_Foo_2020'),
    (2, 0, 'HELLO', '', '', ''),
    (3, 12, 'V,PCAN-RS232,1', ',,,', '___', '_Mar_'),
]


def panel():
    seeds = []
    for i, (kind, model, idn, ver, calver, cal) in enumerate(PANEL_RECORDS):
        s = Seed().boolean(True).boolean(True).integral(kind, -1, 4, 4).u32(19200)
        s.i32(2026).i32(12).i32(8).boolean(i % 2 == 0)
        for text in ('COM5', '10.1.2.3', idn, ver, calver, cal):
            s.string(text)
        s.boolean(i % 3 != 0)
        if i % 3 == 0:
            s.i32(model)
        s.i64(2024).integral(3, 1, 12, 4).integral(200, 1, 260, 8)
        seeds.append(s)
    seeds.append(Seed().boolean(False))
    return seeds


CONNECT_CASES = [
    ['VENDREL,RZT7680,12345,1.02\r\n', '01_Jan_2020\r\n', '1_2_3\r\n', 'V,T,1,2,3,4\r\n'],
    ['V,PCAN-RS232,1\n', 'x\n', 'y\n', 'z\n'],
    ['', '', 'V,QVN44,1\r\n', 'c\n', 'cv\n', 'v\n'],
    ['HELLO\r\n'],
    ['ACME,XYZ100,1,2\r\n'],
    ['V,RZT26,' + 'x' * 300 + '\n', 'c' * 300 + '\n', 'v\n', 'w\n'],
    ['\x80\x20\x00\x00,RZT76\r\n'],
]


def connect():
    seeds = []
    for kind in (1, 2, 3):
        for replies in CONNECT_CASES:
            s = Seed().integral(kind, 0, 3, 4).integral(1, 0, 7, 4).boolean(True)
            s.string('COM5').string('10.1.2.3').integral(0, 0, 16, 4).integral(len(replies), 0, 12, 8)
            for r in replies:
                s.string(r)
            seeds.append(s)
    seeds.append(Seed().integral(0, 0, 3, 4))
    seeds.append(Seed().integral(2, 0, 3, 4).integral(0, 0, 7, 4).boolean(True).string('COM5').string('192.168.100.200'))
    return seeds


SCRIPTS = [
    ['"*RST', '"', '"^c', '"MEAS? X'],
    ['"*IDN?', '#REPLY,3', '"X'],
    ['"*IDN?', ';note', '#reply,3', '"X'],
    ['#wait', '"A', '#wait,Check probe'],
    ['#echo,hello, world', '#ECHO', '#time', '#beep', '#clear', '#echo,after'],
    ['#bincon', '#bincon,ON', '#bincon,off', '#bincon,', '#bincon,xyz'],
    ['#pause,2', '#pause,-1', '#pause,600', '#pause', '#reply,x'],
    ['#fast', '#normal', '#slow', '#Slowly', '# slow', '#timer'],
    ['=1.5', '=2', '=+', '=test,hi', '=stop,onfail', '=3', '=test,lo', '=cleartest'],
    ['=1', '=2', '=3', '=test,out', '=test,in', '=swap', '=roll', '=drop', '=enter', '=^'],
    ['=4', '=sqrt', '=0', '=/', '=-2', '=*', '=sub', '=add', '=mul', '=div', '=[1', '=[100', '=[101'],
    ['=0x10', '=+inf', '=.5', '=-.5e3', '=1e999', '=nan'],
    ['#print,results.txt', '#print,', '#print'],
]


def script_line():
    seeds = []
    for i, lines in enumerate(SCRIPTS):
        s = Seed().integral(1 + i % 3, 1, 3, 4).boolean(i % 2 == 0).boolean(i % 4 != 1)
        s.integral(5, 0, 15, 4).u32(1000 * i).i32(12).i32(34).i32(56).i32(789)
        s.string('1.5E+0\r\n')
        for line in lines:
            s.string(line).integral(5, 0, 31, 4)
        seeds.append(s)
    return seeds


def script_file():
    seeds = []
    for lines in SCRIPTS:
        seeds.append(b'\x02' + '\r\n'.join(lines).encode() + b'\r\n')
    seeds.append(b'\x00; only remarks\nnothing here\n')
    seeds.append(b'\x02"A\n\x1a\n\n"B')
    seeds.append(b'\x31"' + b'x' * 200 + b'\r')    # stretched past the read buffer
    seeds.append(b'\x03#a\rb\r\n#c\n\x00d\n')
    return seeds


DESCRIPTORS = [
    'TARGET,RZT6680,1000,gteq\nLOAD,0,main.hex\nLOAD,1,fpga.hex\nLOAD,2,dsp.hex\n',
    'TARGET,RZT86xx\nLOAD,15,big.hex\nOVER,3,over.hex\nLOAD,16,bad.hex\n',
    'TARGET,A,1,lt\nLOAD,0,a.hex\nTARGET,B,2,gt\nLOAD,0,b.hex\nTARGET,C,3,eq\nLOAD,0,c.hex\n',
    'WARNING,Check the {probe} \\ first\nSERIAL,2,100,200\nLOAD,0,x.hex\nLOAD,1,y.hex\nLOAD,2,z.hex\n',
    'TARGET, RZT 6680 ,\t1 000 ,GtEq ,more,fields\r\nload, 3 ,\tcode.hex\r\nover,4,o.hex\r\n',
    'SERIAL,0,1,2\nSERIAL,3,-1,5\nSERIAL,1,5,-1\nLOAD,3\nLOAD,3,\nLOAD,,x\n',
    'TARGET,M,5,ge\nLOAD,7,' + 'n' * 250 + '.hex\n',
    'target,RZT6680 TARGET\n TARGET,X\nTARGETS,RZT86xx\nLOAD,-1,neg.hex\n',
]


def descriptor():
    seeds = []
    for i, text in enumerate(DESCRIPTORS):
        for long_folder in (False, True):
            s = Seed().boolean(long_folder).integral(50, -1, 55, 4).u64(0x5555555555555555 if i % 2 else 2**64 - 1)
            s.u32(1000).i64(1700000000).string('VENDREL,12345,RZT6680,1').rest(text)
            seeds.append(s)
    return seeds


def directhex():
    names = ['C:\\fw\\RZ_main.hex', 'SQ_main.hex', 'pc_1.hex', 'dir/QV_x.hex', '/RZ_x.hex', 'R__.hex',
             '1Z_bad.hex', 'RZmain.hex', 'C:\\a/b\\XY_' + 'n' * 250, '\\\\server\\share\\AB_c.hex']
    seeds = []
    for i, n in enumerate(names):
        seeds.append(n.encode() + bytes([0x7F if i % 2 else 0x05]))
    return seeds


def proposal():
    seeds = []
    cases = [
        ('VENDREL,12345,RZT6680', 'RZT6680', [(1, 0, 0, 0, 0, 'MAIN.HEX'), (1, 1, 0, 0, 0, 'Fpga.hex'), (0, 2, 0, 0, 0, 'dsp.hex')]),
        ('V,150,X', 'RZT86', [(1, 15, 100, 200, 0, 'A.HEX'), (0, 3, 1, 100, 0, 'B.hex'), (1, 16, 0, 0, 0, '{x}\\y')]),
        ('no comma', '', [(1, -1, 0, 0, 1700000000, 'n' * 40)]),
        ('V,{\\}', '{T}', []),
    ]
    for idn, target, entries in cases:
        s = Seed().integral(len(entries), -2, 54, 4).string(idn).string(target)
        for exists, sector, lo, hi, wt, name in entries:
            s.boolean(exists).boolean(False).boolean(True).integral(sector, -1, 16, 4)
            s.boolean(lo != 0)
            if lo:
                s.i32(lo)
            s.boolean(hi != 0)
            if hi:
                s.i32(hi)
            s.boolean(False).integral(wt, 0, 4102444800, 8).u32(1234).string(name).string('C:\\fw\\' + name)
        seeds.append(s)
    return seeds


HEX = (':020000040000FA\r\n:10000000000102030405060708090A0B0C0D0E0F78\r\n'
       'comment line\r\n:00000001FF\r\n')


def bootproto():
    seeds = []
    plans = [
        [(5, 1, 0, 0)],
        [(0, 1, 0, 0), (1, 1, 1, 0), (2, 1, 2, 0)],
        [(0, 1, 3, 1), (1, 1, 3, 0)],
        [(0, 1, 15, 0)],
        [(4, 0, 2, 0)],
    ]
    replies = [b'', b'\x02\x00', b'\x00\x00\x00\x00\x02\x02\x02\x02', b'\x05\x03\x06\x07\x04']
    for p, plan in enumerate(plans):
        for r, reply in enumerate(replies):
            s = Seed().integral(1 + (p + r) % 3, 1, 3, 4).integral(1, 0, 31, 4).integral(len(plan), 0, 4, 4)
            for slot, exists, sector, over in plan:
                s.integral(slot, 0, 49, 4).integral(7 if exists else 0, 0, 7, 4).boolean(over)
                s.integral(sector, -1, 16, 4).boolean(False).integral(len(HEX), 0, 5000, 4)
                s.integral(5, 0, 15, 4)
            s.string(HEX).boolean(p == 1)
            if p == 1:
                s.integral(r % 6, 0, 5, 8).boolean(r % 2 == 0)
            s.rest(reply)
            seeds.append(s)
    return seeds


def lan_ring():
    seeds = []
    # store near the ring's length, take some, store small across the wrap, take all
    s = Seed().u8(1).integral(8100, 8192 - 300, 2 * 8192, 4).u8(7)
    s.u8(0).integral(500, 0, 2 * 8192, 4).u8(3).integral(300, -4, 300, 4).u8(9)
    s.u8(0).integral(2 * 8192, 0, 2 * 8192, 4)
    seeds.append(s)
    seeds.append(Seed().u8(1).integral(2 * 8192, 8192 - 300, 2 * 8192, 4).u8(0).u8(3).integral(1, -4, 300, 4).u8(1))
    seeds.append(Seed().u8(3).integral(-4, -4, 300, 4).u8(0).u8(0).integral(3, 0, 2 * 8192, 4))
    return seeds


def history():
    seeds = []
    s = Seed()
    for i in range(55):
        s.integral(0, 0, 4, 4).string('cmd%d?' % i)
    for _ in range(3):
        s.integral(2, 0, 4, 4)
    s.integral(1, 0, 4, 4).integral(10, 0, 49, 4)
    for _ in range(3):
        s.integral(3, 0, 4, 4)
    seeds.append(s)
    s = Seed().integral(2, 0, 4, 4).integral(3, 0, 4, 4).integral(0, 0, 4, 4).string('')
    s.integral(4, 0, 4, 4).string('> *IDN?\r\n>\n> x').integral(0, 0, 602, 8).integral(1, 0, 7, 4)
    seeds.append(s)
    s = Seed().integral(4, 0, 4, 4).string('abc\n> ' + 'y' * 300 + '\r\n').integral(4, 0, 602, 8).integral(1, 0, 7, 4)
    seeds.append(s)
    return seeds


def main():
    write('fuzz_reply_line', reply_line())
    write('fuzz_packed', packed())
    write('fuzz_panel', panel())
    write('fuzz_connect', connect())
    write('fuzz_script_line', script_line())
    write('fuzz_script_file', script_file())
    write('fuzz_descriptor', descriptor())
    write('fuzz_directhex', directhex())
    write('fuzz_proposal', proposal())
    write('fuzz_bootproto', bootproto())
    write('fuzz_lan_ring', lan_ring())
    write('fuzz_history', history())
    return 0


if __name__ == '__main__':
    sys.exit(main())
