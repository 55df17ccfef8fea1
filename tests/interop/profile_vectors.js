#!/usr/bin/env node
// Protocol vectors for what aircraft profiles need, from node-simconnect
// 4.2.0 (written outside this project): the client packets as its encoder
// writes them, captured by a small server here, and server records crafted
// from SimConnect's documented layouts, kept with the values its decoder
// reads from them. tests/protocol/profile_vectors_test.cpp holds our codec
// to both.
//
// Usage: node profile_vectors.js write|check <profile-vectors.json>
//   write: captures and writes the file; check: captures and fails (status
//   1) when the file differs, so that the committed vectors stay node's.
'use strict';

const fs = require('node:fs');
const net = require('node:net');
const path = require('node:path');

let simconnect;
try {
    simconnect = require(path.join(__dirname, 'node_modules', 'node-simconnect'));
} catch (e) {
    console.error('node-simconnect is not installed in tests/interop/node_modules, so the profile vectors are ' +
        'not checked: run `npm ci --prefix tests/interop` (' + e.message.split('\n')[0] + ')');
    process.exit(77);
}
const { open, Protocol, SimConnectDataType, SimConnectPeriod } = simconnect;

const [mode, file] = process.argv.slice(2);
if (!['write', 'check'].includes(mode) || !file) {
    console.error('usage: node profile_vectors.js write|check <profile-vectors.json>');
    process.exit(2);
}

// --- Crafting records: the SDK's layouts, little-endian, packed.
function record(recvId, body) {
    const header = Buffer.alloc(12);
    header.writeUInt32LE(12 + body.length, 0);
    header.writeUInt32LE(5, 4);
    header.writeUInt32LE(recvId, 8);
    return Buffer.concat([header, body]);
}
const u32 = (v) => { const b = Buffer.alloc(4); b.writeUInt32LE(v >>> 0); return b; };
const u64 = (v) => { const b = Buffer.alloc(8); b.writeBigUInt64LE(v); return b; };
const f32 = (v) => { const b = Buffer.alloc(4); b.writeFloatLE(v); return b; };
const f64 = (v) => { const b = Buffer.alloc(8); b.writeDoubleLE(v); return b; };
const fixed = (text, width) => { const b = Buffer.alloc(width); b.write(text, 'latin1'); return b; };
// A StringV datum: the text, its NUL, zeros to a multiple of 4 bytes.
const stringV = (text) => fixed(text, (text.length + 1 + 3) & ~3);

const RECV_OPEN = record(2, Buffer.concat([fixed('KittyHawk', 256),
    ...[11, 0, 282174, 999, 11, 0, 62651, 3, 0, 0].map(u32)]));

const A320_PATH = 'SimObjects/Airplanes/FlyByWire_A320_NEO/aircraft.cfg';
const A320_TITLE = 'FlyByWire A320neo (LEAP)';
const HASH_AP1 = 0x9E3779B97F4A7C15n;  // any value with the top bit set
const HASH_BARO = 0x0000000100000002n;

const RECORDS = [
    {
        record: 'RECV_EVENT_FILENAME (AircraftLoaded)',
        event: 'eventFilename',
        bytes: record(6, Buffer.concat([u32(0xFFFFFFFF), u32(1), u32(0), fixed(A320_PATH, 260), u32(0)])),
        fields: { groupId: '0xFFFFFFFF', eventId: 1, data: 0, fileName: A320_PATH, flags: 0 },
        decoded: (r) => ({ groupID: r.groupID, clientEventId: r.clientEventId, data: r.data, fileName: r.fileName,
            flags: r.flags }),
    },
    {
        record: 'RECV_SYSTEM_STATE (AircraftLoaded)',
        event: 'systemState',
        bytes: record(15, Buffer.concat([u32(7), u32(0), f32(0), fixed(A320_PATH, 260)])),
        fields: { requestId: 7, integer: 0, float: 0, string: A320_PATH },
        decoded: (r) => ({ requestID: r.requestID, dataInteger: r.dataInteger, dataFloat: r.dataFloat,
            dataString: r.dataString }),
    },
    {
        record: 'RECV_ENUMERATE_INPUT_EVENTS (two descriptors)',
        event: 'inputEventsList',
        bytes: record(34, Buffer.concat([u32(9), u32(2), u32(0), u32(1),
            fixed('AUTOPILOT_AP1', 64), u64(HASH_AP1), u32(4),
            fixed('INSTRUMENT_BARO_KNOB', 64), u64(HASH_BARO), u32(11)])),
        fields: { requestId: 9, arraySize: 2, entryNumber: 0, outOf: 1 },
        decoded: (r) => ({ requestID: r.requestID, arraySize: r.arraySize, entryNumber: r.entryNumber,
            outOf: r.outOf, descriptors: r.inputEventDescriptors.map((d) => ({ name: d.name,
                hash: '0x' + d.inputEventIdHash.toString(16).toUpperCase(), type: d.type })) }),
    },
    {
        record: 'RECV_SIMOBJECT_DATA (STRING256, FLOAT64, STRINGV)',
        event: 'simObjectData',
        bytes: record(8, Buffer.concat([u32(4), u32(1), u32(3), u32(0), u32(1), u32(1), u32(3),
            fixed(A320_TITLE, 256), f64(5000), stringV('A320N')])),
        fields: { requestId: 4, defineId: 3, types: [9, 4, 11] },
        decoded: (r) => ({ requestID: r.requestID, objectID: r.objectID, defineID: r.defineID,
            defineCount: r.defineCount, values: [r.data.readString256(), r.data.readFloat64(), r.data.readStringV()],
            left: r.data.remaining() }),
    },
];

// --- The client packets, in the order the calls make them.
const CALLS = [
    ['subscribeToSystemEvent(1, "AircraftLoaded")', (h) => h.subscribeToSystemEvent(1, 'AircraftLoaded')],
    ['unsubscribeFromSystemEvent(1)', (h) => h.unsubscribeFromSystemEvent(1)],
    ['requestSystemState(7, "AircraftLoaded")', (h) => h.requestSystemState(7, 'AircraftLoaded')],
    ['addToDataDefinition(3, "TITLE", null, STRING256)',
        (h) => h.addToDataDefinition(3, 'TITLE', null, SimConnectDataType.STRING256)],
    ['addToDataDefinition(3, "L:E_FCU_ALTITUDE", "number", FLOAT64)',
        (h) => h.addToDataDefinition(3, 'L:E_FCU_ALTITUDE', 'number', SimConnectDataType.FLOAT64)],
    ['addToDataDefinition(3, "ATC MODEL", null, STRINGV)',
        (h) => h.addToDataDefinition(3, 'ATC MODEL', null, SimConnectDataType.STRINGV)],
    ['requestDataOnSimObject(4, 3, 0, ONCE, CHANGED)',
        (h) => h.requestDataOnSimObject(4, 3, 0, SimConnectPeriod.ONCE, 1)],
    ['requestDataOnSimObject(4, 3, 0, NEVER)', (h) => h.requestDataOnSimObject(4, 3, 0, SimConnectPeriod.NEVER)],
    ['setDataOnSimObject(5, 0, [float64 12300, int32 -3])', (h) => h.setDataOnSimObject(5, 0, [{
        writeTo: (p) => { p.putFloat64(12300); p.putInt32(-3); }, readFrom: () => {} }])],
    ['clearDataDefinition(5)', (h) => h.clearDataDefinition(5)],
    ['enumerateInputEvents(9)', (h) => h.enumerateInputEvents(9)],
    ['setInputEvent(0x9E3779B97F4A7C15, 1)', (h) => h.setInputEvent(HASH_AP1, 1)],
    ['setInputEvent(0x100000002, "ON")', (h) => h.setInputEvent(HASH_BARO, 'ON')],
];

function headerOf(bytes) {
    return { size: bytes.readUInt32LE(0), protocol: bytes.readUInt32LE(4),
        type: '0x' + bytes.readUInt32LE(8).toString(16).toUpperCase(), sendId: bytes.readUInt32LE(12) };
}

async function capture() {
    const packets = [];
    let sendRecords;
    const allSent = new Promise((resolve) => { sendRecords = resolve; });
    const server = net.createServer((socket) => {
        let pending = Buffer.alloc(0);
        socket.on('data', (chunk) => {
            pending = Buffer.concat([pending, chunk]);
            while (pending.length >= 4 && pending.length >= pending.readUInt32LE(0)) {
                const size = pending.readUInt32LE(0);
                const packet = pending.subarray(0, size);
                pending = pending.subarray(size);
                if (packets.length === 0) {
                    socket.write(RECV_OPEN);
                }
                packets.push(Buffer.from(packet));
                if (packets.length === 1 + CALLS.length) {
                    sendRecords(socket);
                }
            }
        });
        socket.on('error', () => {});
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    const { handle } = await open('Profile vectors', Protocol.KittyHawk, { host: '127.0.0.1',
        port: server.address().port });
    const decoded = RECORDS.map((r) => new Promise((resolve) => handle.once(r.event, (x) => resolve(r.decoded(x)))));
    CALLS.forEach(([, call]) => call(handle));
    const socket = await allSent;
    for (const r of RECORDS) {
        socket.write(r.bytes);
    }
    const values = await Promise.all(decoded);
    handle.close();
    server.close();

    const json = (v) => JSON.parse(JSON.stringify(v, (k, x) => (typeof x === 'bigint' ? x.toString() : x)));
    return {
        generatedBy: 'tests/interop/profile_vectors.js: client packets captured from node-simconnect@4.2.0; ' +
            'server records crafted from the SDK layouts and decoded by node-simconnect',
        clientToServer: CALLS.map(([call], i) => {
            const bytes = packets[i + 1];
            return { call, length: bytes.length, header: headerOf(bytes), hex: bytes.toString('hex') };
        }),
        serverToClient: RECORDS.map((r, i) => ({ record: r.record, length: r.bytes.length, fields: r.fields,
            hex: r.bytes.toString('hex'), nodeSimconnectDecoded: json(values[i]) })),
    };
}

capture().then((vectors) => {
    const text = JSON.stringify(vectors, null, 1) + '\n';
    if (mode === 'write') {
        fs.writeFileSync(file, text);
        console.log(`wrote ${vectors.clientToServer.length} packets and ${vectors.serverToClient.length} records`);
        return;
    }
    if (fs.readFileSync(file, 'utf8') !== text) {
        console.error(`${file} differs from what node-simconnect produces now: run this script with "write" ` +
            'and review the difference');
        process.exit(1);
    }
    console.log(`${file}: node-simconnect agrees`);
}, (e) => {
    console.error('capture failed:', e);
    process.exit(1);
});
