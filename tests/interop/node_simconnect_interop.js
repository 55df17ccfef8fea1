#!/usr/bin/env node
// Interoperability: node-simconnect 4.2.0, a SimConnect client written by
// people outside this project, drives sim-emulator the way the panel program
// does: it replays the program's start-up from the golden file (open, map
// its client events, add its two data definitions, request them every
// frame), then transmits events. Its decoding of our records and the
// emulator's --state-out and --trace must agree with what it sent.
//
// Usage: node node_simconnect_interop.js <path to sim-emulator> <golden start-up>
'use strict';

const assert = require('node:assert/strict');
const childProcess = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

let simconnect;
try {
    simconnect = require(path.join(__dirname, 'node_modules', 'node-simconnect'));
} catch (e) {
    // A plain cmake build has not fetched it: skipped, not failed (77 is
    // CTest's skip status here). scripts/test.sh installs it first.
    console.error('node-simconnect is not installed in tests/interop/node_modules, so this test is ' +
        'skipped: run `npm ci --prefix tests/interop` (it needs the npm registry) to run it (' +
        e.message.split('\n')[0] + ')');
    process.exit(77);
}
const { open, Protocol, SimConnectDataType } = simconnect;

const [emulatorPath, goldenPath] = process.argv.slice(2);
if (!emulatorPath || !goldenPath) {
    console.error('usage: node node_simconnect_interop.js <sim-emulator> <golden start-up>');
    process.exit(2);
}

// The program's start-up, one packet a line as the emulator traces them.
const STARTUP = fs.readFileSync(goldenPath, 'utf8').trim().split('\n').map((l) => JSON.parse(l));
const ofCall = (call) => STARTUP.filter((p) => p.call === call);
const OPEN = ofCall('Open')[0];
const MAPS = ofCall('MapClientEventToSimEvent');
const DEFINITIONS = ofCall('AddToDataDefinition');
const REQUESTS = ofCall('RequestDataOnSimObject');
// The client event names by ID.
const EVENTS = Object.fromEntries(MAPS.map((m) => [m.event, m.name]));
// Each data definition's datum types, to decode its records in order.
const DATUM_TYPES = {};
DEFINITIONS.forEach((d) => { (DATUM_TYPES[d.define] ??= []).push(d.type); });

// Events to send, in order, with their data as the program passes it.
const TRANSMITS = [
    [2, 0x11345], [3, 0x0800], [4, 360], [5, 45], [6, 359], [7, 0x7700], [8, 12300], [9, (-500) >>> 0],
    [12, 1], [15, 1], [16, 1], [18, 1], [80, 0], [84, 0], [10, 1], [10, 1],
    [85, 0], [86, 0], [89, 0], [41, 0], [63, 0], [40, 0], [52, 0],
];

let passed = 0;
let failed = 0;
function check(name, fn) {
    try {
        fn();
        passed += 1;
    } catch (e) {
        failed += 1;
        console.error(`FAIL ${name}: ${e.message}`);
    }
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function waitFor(what, predicate, ms = 5000) {
    for (let waited = 0; waited < ms; waited += 10) {
        if (predicate()) {
            return;
        }
        await sleep(10);
    }
    throw new Error(`timed out waiting for ${what}`);
}

// A data record's values, by the types its definition gave.
function decodeBlock(define, data) {
    return DATUM_TYPES[define].map((type) => {
        switch (type) {
        case SimConnectDataType.FLOAT64: return data.readFloat64();
        case SimConnectDataType.INT32: return data.readInt32();
        default: throw new Error(`no decoder for datum type ${type}`);
        }
    });
}

async function main() {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'interop-'));
    const files = {
        port: path.join(dir, 'port'),
        trace: path.join(dir, 'trace.jsonl'),
        state: path.join(dir, 'state.json'),
    };
    const emulator = childProcess.spawn(emulatorPath, [
        '--port', '0', '--port-file', files.port, '--trace', files.trace, '--state-out', files.state,
        '--once', '--frame-ms', '5'], { stdio: ['ignore', 'pipe', 'pipe'] });
    let stdout = '';
    let stderr = '';
    emulator.stdout.on('data', (b) => { stdout += b; });
    emulator.stderr.on('data', (b) => { stderr += b; });
    const exited = new Promise((resolve) => emulator.on('exit', (code) => resolve(code)));
    const guard = setTimeout(() => {
        console.error('FAIL: the test took too long; stopping the emulator');
        emulator.kill('SIGKILL');
        process.exit(1);
    }, 30000);

    try {
        await waitFor('the port file', () => fs.existsSync(files.port));
        const port = Number(fs.readFileSync(files.port, 'utf8').trim());

        const { recvOpen, handle } = await open(OPEN.name, Protocol.KittyHawk, { host: '127.0.0.1', port });
        check('RECV_OPEN as MSFS 2020 reports it', () => {
            assert.equal(recvOpen.applicationName, 'KittyHawk');
            assert.equal(recvOpen.applicationVersionMajor, 11);
            assert.equal(recvOpen.applicationVersionMinor, 0);
            assert.equal(recvOpen.simConnectVersionMajor, 11);
            assert.equal(recvOpen.simConnectBuildMajor, 62651);
            assert.equal(recvOpen.simConnectBuildMinor, 3);
        });

        const exceptions = [];
        const latest = { radios: null, autopilot: null, records: [] };
        let quit = false;
        handle.on('exception', (e) => exceptions.push(e));
        handle.on('quit', () => { quit = true; });
        handle.on('simObjectData', (d) => {
            latest.records.push({ request: d.requestID, define: d.defineID, object: d.objectID,
                entry: d.entryNumber, outOf: d.outOf, count: d.defineCount, bytes: d.data.remaining() });
            if (d.requestID === 0) {
                latest.radios = decodeBlock(d.defineID, d.data);
            } else if (d.requestID === 1) {
                latest.autopilot = decodeBlock(d.defineID, d.data);
            }
        });

        const mapSendIds = {};
        for (const m of MAPS) {
            mapSendIds[m.event] = handle.mapClientEventToSimEvent(m.event, m.name);
        }
        for (const d of DEFINITIONS) {
            handle.addToDataDefinition(d.define, d.datum, d.units, d.type, d.epsilon, d.datum_id);
        }
        for (const r of REQUESTS) {
            handle.requestDataOnSimObject(r.request, r.define, r.object, r.period, r.flags, r.origin, r.interval,
                r.limit);
        }

        await waitFor('the first data records', () => latest.radios && latest.autopilot);
        check('only TOGGLE_GPS_DRIVES_NAV2 is refused, with the send ID of its map', () => {
            assert.equal(exceptions.length, 1, JSON.stringify(exceptions));
            assert.equal(exceptions[0].exception, 7);
            assert.equal(exceptions[0].sendId, mapSendIds[MAPS.find((m) => m.name === 'TOGGLE_GPS_DRIVES_NAV2').event]);
            assert.equal(exceptions[0].index, 2);
        });
        check('data records: request and define echoed, user object, one entry, datum counts', () => {
            for (const r of latest.records) {
                assert.equal(r.define, r.request);
                assert.equal(r.object, 1);
                assert.equal(r.entry, 1);
                assert.equal(r.outOf, 1);
                assert.equal(r.count, DATUM_TYPES[r.define].length);
            }
        });
        check('starting values', () => {
            assert.deepEqual(latest.radios, [118.0, 126.7, 110.5, 112.3, 270, 90, 180]);
            assert.deepEqual(latest.autopilot, [5000, 0, 0x1200, 0, 0, 0, 0, 0, 0]);
        });

        const frameCount = latest.records.length;
        for (const [event, data] of TRANSMITS) {
            handle.transmitClientEvent(0, event, data, 1, 0x10);
        }
        const wantRadios = [124.85, 127.725, 113.45, 108.0, 0, 45, 359];
        const wantAutopilot = [12300, -500, 0x7700, 1, 1, 0, 0, 1, 0];
        try {
            await waitFor('the events in the data', () =>
                JSON.stringify(latest.radios) === JSON.stringify(wantRadios) &&
                JSON.stringify(latest.autopilot) === JSON.stringify(wantAutopilot));
        } catch (e) {
            // Reported by the checks below.
        }
        check('records decoded after the events', () => {
            assert.deepEqual(latest.radios, wantRadios);
            assert.deepEqual(latest.autopilot, wantAutopilot);
            assert.ok(latest.records.length > frameCount);
        });
        check('no exception for the empty and custom names', () => assert.equal(exceptions.length, 1));

        handle.close();
        const code = await exited;
        check('the emulator exits 0 once its client has gone (--once)', () => assert.equal(code, 0, stderr));
        check('no QUIT when the client leaves first', () => assert.equal(quit, false));

        const state = JSON.parse(fs.readFileSync(files.state, 'utf8'));
        check('--state-out reflects the events', () => {
            assert.equal(state['COM ACTIVE FREQUENCY:1'], 119.975);
            assert.equal(state['COM STANDBY FREQUENCY:1'], 124.85);
            assert.equal(state['COM STANDBY FREQUENCY:2'], 127.725);
            assert.equal(state['NAV STANDBY FREQUENCY:1'], 113.45);
            assert.equal(state['NAV STANDBY FREQUENCY:2'], 108);
            assert.equal(state['AUTOPILOT HEADING LOCK DIR'], 0);
            assert.equal(state['TRANSPONDER CODE:1'], 0x7700);
            assert.equal(state['AUTOPILOT VERTICAL HOLD VAR'], -500);
            assert.equal(state['AUTOPILOT MASTER'], 1);
            assert.equal(state['GPS DRIVES NAV1'], 1);
            assert.ok(Math.abs(state['KOHLSMAN SETTING HG'] - 29.94) < 1e-9, String(state['KOHLSMAN SETTING HG']));
            assert.deepEqual(state.custom_events, { '': 1, 'MobiFlight.AS530_ENT_Push': 1 });
            assert.deepEqual(state.unknown_events, { TOGGLE_GPS_DRIVES_NAV2: 1 });
        });

        const trace = fs.readFileSync(files.trace, 'utf8').trim().split('\n').map((l) => JSON.parse(l));
        check('--trace: one line per packet, in order, send IDs from 0 as node-simconnect counts', () => {
            assert.equal(trace.length, STARTUP.length + TRANSMITS.length + 1);
            trace.slice(0, -1).forEach((line, i) => assert.equal(line.send_id, i));
            assert.deepEqual(Object.keys(trace[trace.length - 1]), ['call', 't_ns']);
            assert.equal(trace[trace.length - 1].call, 'Disconnect');
            for (let i = 1; i < trace.length; i += 1) {
                assert.ok(trace[i].t_ns >= trace[i - 1].t_ns);
            }
        });
        check('--trace: the start-up line for line as the golden file has it, but for the send IDs', () => {
            const seen = trace.slice(0, STARTUP.length).map(({ t_ns: _, ...line }) =>
                JSON.stringify({ ...line, send_id: line.send_id + 1 }));
            assert.deepEqual(seen, STARTUP.map((p) => JSON.stringify(p)));
        });
        check('--trace: the transmitted events with their data as unsigned 32-bit', () => {
            const sent = trace.filter((l) => l.call === 'TransmitClientEvent');
            // A set event's line also says the value it applied.
            assert.deepEqual(Object.keys(sent[0]),
                ['send_id', 'call', 'object', 'event', 'sim_event', 'data', 'applied', 'group', 'flags', 't_ns']);
            assert.deepEqual(sent.map((l) => [l.event, l.sim_event, l.data, l.object, l.group, l.flags]),
                TRANSMITS.map(([e, d]) => [e, EVENTS[e], d, 0, 1, 16]));
            assert.equal(sent.find((l) => l.event === 9).data, 4294966796);
        });
        check('stdout: one line per applied event', () => {
            assert.match(stdout, /^NAV1_STBY_SET 0x11345 -> NAV STANDBY FREQUENCY:1 = 113\.45$/m);
            assert.match(stdout, /^AP_VS_VAR_SET_ENGLISH -500 -> AUTOPILOT VERTICAL HOLD VAR = -500$/m);
            assert.match(stdout, /^TOGGLE_GPS_DRIVES_NAV2 0 -> unknown to the simulator/m);
        });
    } finally {
        clearTimeout(guard);
        if (emulator.exitCode === null) {
            emulator.kill('SIGKILL');
        }
        fs.rmSync(dir, { recursive: true, force: true });
    }
}

main().then(() => {
    console.log(`interop: ${passed} passed, ${failed} failed`);
    process.exit(failed === 0 ? 0 : 1);
}, (e) => {
    console.error(`FAIL: ${e.stack || e}`);
    console.log(`interop: ${passed} passed, ${failed + 1} failed`);
    process.exit(1);
});
