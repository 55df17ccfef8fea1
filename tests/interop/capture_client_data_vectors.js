#!/usr/bin/env node
// Writes tests/protocol/data/client-data-vectors.json: the client-data
// packets as node-simconnect 4.2.0 (written outside this project) encodes
// them, captured by a TCP server on 127.0.0.1, and server records crafted
// here and read back by node-simconnect's decoder (CLIENT_DATA, and records
// as MSFS 2024 sends them: protocol version 6 in the header, "SunRise").
//
// Usage: node capture_client_data_vectors.js > ../protocol/data/client-data-vectors.json
'use strict';

const net = require('node:net');
const path = require('node:path');

const { open, Protocol } = require(path.join(__dirname, 'node_modules', 'node-simconnect'));

const hex = (buf) => Buffer.from(buf).toString('hex');

function record(version, id, body) {
    const head = Buffer.alloc(12);
    head.writeUInt32LE(12 + body.length, 0);
    head.writeUInt32LE(version, 4);
    head.writeUInt32LE(id, 8);
    return Buffer.concat([head, body]);
}

function u32s(...values) {
    const b = Buffer.alloc(4 * values.length);
    values.forEach((v, i) => b.writeUInt32LE(v >>> 0, 4 * i));
    return b;
}

function openRecord(version, name, fields) {
    const nameField = Buffer.alloc(256);
    nameField.write(name, 'latin1');
    return record(version, 2, Buffer.concat([nameField, u32s(...fields)]));
}

// What MSFS 2024 answers a protocol-5 client with.
const SUNRISE = { name: 'SunRise', fields: [12, 1, 282174, 999, 12, 1, 0, 0, 0, 0] };

// A command as a client writes it into a MobiFlight command area.
const command = Buffer.alloc(32);
command.write('MF.SimVars.Set.(>H:AS530_DirectTo_Push)'.slice(0, 31), 'latin1');

// Each call: the function, its fields as our codec names them, and the same
// call on the node-simconnect handle.
const CALLS = [
    {
        function: 'MapClientDataNameToID', fields: { name: 'MobiFlight.Command', area: 0 },
        call: (h, f) => h.mapClientDataNameToID(f.name, f.area),
    },
    {
        function: 'CreateClientData', fields: { area: 0, size: 1024, flags: 0 },
        call: (h, f) => h.createClientData(f.area, f.size, f.flags === 1),
    },
    {
        function: 'CreateClientData', fields: { area: 3, size: 8192, flags: 1 },
        call: (h, f) => h.createClientData(f.area, f.size, f.flags === 1),
    },
    {
        function: 'AddToClientDataDefinition',
        fields: { define: 1, offset: 0, sizeOrType: 1024, epsilon: 0, datum: 0xFFFFFFFF },
        call: (h, f) => h.addToClientDataDefinition(f.define, f.offset, f.sizeOrType, f.epsilon, f.datum),
    },
    {
        // FLOAT32 is SIMCONNECT_CLIENTDATATYPE_FLOAT32, -5.
        function: 'AddToClientDataDefinition',
        fields: { define: 7, offset: 12, sizeOrType: (-5) >>> 0, epsilon: 0.5, datum: 3 },
        call: (h, f) => h.addToClientDataDefinition(f.define, f.offset, f.sizeOrType, f.epsilon, f.datum),
    },
    {
        function: 'ClearClientDataDefinition', fields: { define: 7 },
        call: (h, f) => h.clearClientDataDefinition(f.define),
    },
    {
        // Period ON_SET (3), flag CHANGED (1).
        function: 'RequestClientData',
        fields: { area: 2, request: 9, define: 1, period: 3, flags: 1, origin: 0, interval: 0, limit: 0 },
        call: (h, f) => h.requestClientData(f.area, f.request, f.define, f.period, f.flags, f.origin, f.interval,
            f.limit),
    },
    {
        // Period SECOND (4).
        function: 'RequestClientData',
        fields: { area: 4, request: 10, define: 7, period: 4, flags: 0, origin: 1, interval: 2, limit: 3 },
        call: (h, f) => h.requestClientData(f.area, f.request, f.define, f.period, f.flags, f.origin, f.interval,
            f.limit),
    },
    {
        // node-simconnect writes 0 and 1 in the flags and reserved fields,
        // whatever it is given.
        function: 'SetClientData',
        fields: { area: 0, define: 1, flags: 0, reserved: 1, size: 32, data: hex(command) },
        call: (h, f) => h.setClientData(f.area, f.define, f.flags, f.reserved, f.size, command),
    },
];

// Records crafted here, with what node-simconnect's decoder reads.
const float32 = (v) => { const b = Buffer.alloc(4); b.writeFloatLE(v, 0); return b; };
const RECORDS = [
    {
        record: 'RECV_CLIENT_DATA (request 9, one 32-byte datum: a response string)',
        bytes: record(5, 16, Buffer.concat([u32s(9, 0, 1, 1, 1, 1, 1), Buffer.from('MF.Pong'.padEnd(32, '\0'))])),
        read: (d) => d.data.readString(32),
    },
    {
        record: 'RECV_CLIENT_DATA (request 10, FLOAT32 1.5, MSFS 2024 header version 6)',
        bytes: record(6, 16, Buffer.concat([u32s(10, 0, 7, 0, 1, 1, 1), float32(1.5)])),
        read: (d) => d.data.readFloat32(),
    },
];

function cutPackets(buffer, onPacket) {
    while (buffer.length >= 4 && buffer.length >= buffer.readUInt32LE(0)) {
        const size = buffer.readUInt32LE(0);
        onPacket(buffer.subarray(0, size));
        buffer = buffer.subarray(size);
    }
    return buffer;
}

function describeClient(packet) {
    return {
        size: packet.readUInt32LE(0),
        protocol: packet.readUInt32LE(4),
        type: '0x' + packet.readUInt32LE(8).toString(16).toUpperCase(),
        sendId: packet.readUInt32LE(12),
    };
}

async function main() {
    const packets = [];
    let socket = null;
    const server = net.createServer((s) => {
        socket = s;
        let pending = Buffer.alloc(0);
        s.on('data', (chunk) => {
            pending = cutPackets(Buffer.concat([pending, chunk]), (p) => {
                packets.push(Buffer.from(p));
                if (packets.length === 1) {
                    s.write(openRecord(6, SUNRISE.name, SUNRISE.fields));
                }
            });
        });
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    const { port } = server.address();
    const { recvOpen, handle } = await open('Client Data', Protocol.KittyHawk, { host: '127.0.0.1', port });

    CALLS.forEach((c) => c.call(handle, c.fields));
    for (let waited = 0; packets.length < 1 + CALLS.length && waited < 5000; waited += 10) {
        await new Promise((r) => setTimeout(r, 10));
    }
    if (packets.length !== 1 + CALLS.length) {
        throw new Error(`captured ${packets.length} packets, expected ${1 + CALLS.length}`);
    }

    const decoded = [];
    handle.on('clientData', (d) => decoded.push({
        requestID: d.requestID, objectID: d.objectID, defineID: d.defineID, flags: d.flags,
        entryNumber: d.entryNumber, outOf: d.outOf, defineCount: d.defineCount,
    }));
    const values = [];
    let index = 0;
    handle.on('clientData', (d) => { values.push(RECORDS[index++].read(d)); });
    RECORDS.forEach((r) => socket.write(r.bytes));
    for (let waited = 0; decoded.length < RECORDS.length && waited < 5000; waited += 10) {
        await new Promise((r) => setTimeout(r, 10));
    }
    handle.close();
    server.close();

    const out = {
        generatedBy: 'tests/interop/capture_client_data_vectors.js with node-simconnect@4.2.0 (node ' +
            process.version + '): client packets as its encoder writes them, captured on 127.0.0.1; server ' +
            'records crafted and decoded by it',
        byteOrder: 'all integers and floats little-endian',
        clientToServer: CALLS.map((c, i) => {
            const p = packets[i + 1];
            return { function: c.function, fields: c.fields, length: p.length, header: describeClient(p), hex: hex(p) };
        }),
        serverToClient: [
            {
                record: 'RECV_OPEN from MSFS 2024 (SunRise 12.1, SimConnect 12.1), header version 6',
                length: 308,
                hex: hex(openRecord(6, SUNRISE.name, SUNRISE.fields)),
                nodeSimconnectDecoded: recvOpen,
            },
            ...RECORDS.map((r, i) => ({
                record: r.record,
                length: r.bytes.length,
                hex: hex(r.bytes),
                nodeSimconnectDecoded: { ...decoded[i], value: values[i] },
            })),
        ],
    };
    process.stdout.write(JSON.stringify(out, null, 1) + '\n');
}

main().catch((e) => {
    console.error(e);
    process.exit(1);
});
