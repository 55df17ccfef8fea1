#!/usr/bin/env node
// node-simconnect 4.2.0 doing what bench-client does, against the same
// sim-emulator: the set-up calls msfs-panel makes (replayed in order from a
// sim-emulator trace of bench-client's set-up), then EVENTS
// AP_ALT_VAR_SET_ENGLISH events with the altitudes 1000, 1001, ..., and a
// wait until a data block shows the last. Prints one JSON line like
// bench-client's; fails as bench-client does when the simulator refuses
// events (exception ERROR) or no block shows the last within WAIT_SECONDS.
//
// Usage: node node_client_bench.js PORT SETUP_TRACE EVENTS
'use strict';

const fs = require('node:fs');
const path = require('node:path');

const modules = path.join(__dirname, '..', 'tests', 'interop', 'node_modules', 'node-simconnect');
let simconnect;
try {
    simconnect = require(modules);
} catch (e) {
    console.error(`node_client_bench: node-simconnect(${modules}): ${e.message}; run npm ci --prefix tests/interop`);
    process.exit(1);
}
const { open, Protocol } = simconnect;

const [portText, setupTrace, eventsText] = process.argv.slice(2);
const port = Number(portText);
const events = Number(eventsText);
if (!Number.isInteger(port) || !setupTrace || !Number.isInteger(events) || events < 0) {
    console.error('usage: node node_client_bench.js PORT SETUP_TRACE EVENTS');
    process.exit(2);
}

const ALTITUDE_SET = 8;  // the program's ID for AP_ALT_VAR_SET_ENGLISH
const FIRST_ALTITUDE = 1000;
const WAIT_SECONDS = 30;
const EXCEPTION_ERROR = 1;  // SIMCONNECT_EXCEPTION_ERROR
const DATUM_SIZES = { 1: 4, 4: 8 };  // SIMCONNECT_DATATYPE INT32, FLOAT64

// The set-up calls of the first client in the trace, in the order it made them.
const setup = fs.readFileSync(setupTrace, 'utf8').trim().split('\n').map((l) => JSON.parse(l))
    .filter((l) => (l.client === undefined || l.client === 1) &&
        ['MapClientEventToSimEvent', 'AddToDataDefinition', 'RequestDataOnSimObject'].includes(l.call));

// Where the altitude sits in the block of its request.
const adds = setup.filter((l) => l.call === 'AddToDataDefinition');
const altitudeAdd = adds.find((l) => l.datum === 'AUTOPILOT ALTITUDE LOCK VAR');
const altitudeOffset = adds.filter((l) => l.define === altitudeAdd.define)
    .slice(0, adds.filter((l) => l.define === altitudeAdd.define).indexOf(altitudeAdd))
    .reduce((sum, l) => sum + DATUM_SIZES[l.type], 0);
const altitudeRequest = setup.find((l) => l.call === 'RequestDataOnSimObject' && l.define === altitudeAdd.define).request;

async function main() {
    const start = process.hrtime.bigint();  // CLOCK_MONOTONIC on Linux
    const cpuStart = process.cpuUsage();
    const { handle } = await open('Request Data', Protocol.KittyHawk, { host: '127.0.0.1', port });
    for (const l of setup) {
        if (l.call === 'MapClientEventToSimEvent') {
            handle.mapClientEventToSimEvent(l.event, l.name);
        } else if (l.call === 'AddToDataDefinition') {
            handle.addToDataDefinition(l.define, l.datum, l.units, l.type, l.epsilon, l.datum_id);
        } else {
            handle.requestDataOnSimObject(l.request, l.define, l.object, l.period, l.flags, l.origin, l.interval,
                l.limit);
        }
    }
    const last = FIRST_ALTITUDE + events - 1;
    let latest = 0;
    let timer;
    const shown = new Promise((resolve, reject) => {
        handle.on('simObjectData', (d) => {
            if (d.requestID !== altitudeRequest) {
                return;
            }
            d.data.readBytes(altitudeOffset);
            latest = d.data.readFloat64();
            if (events === 0 || latest === last) {
                resolve();
            }
        });
        // A refusal comes before the block that would show the last value.
        handle.on('exception', (e) => {
            if (e.exception === EXCEPTION_ERROR) {
                reject(new Error('the simulator refused events with exception ERROR: more waiting for their ' +
                    'frame than it takes?'));
            }
        });
        timer = setTimeout(() => reject(new Error(
            `no data block showed the altitude ${last} within ${WAIT_SECONDS} s (the last: ${latest})`)),
        WAIT_SECONDS * 1000);
    });
    for (let i = 0; i < events; i += 1) {
        handle.transmitClientEvent(0, ALTITUDE_SET, FIRST_ALTITUDE + i, 1, 0x10);
    }
    try {
        await shown;
    } finally {
        clearTimeout(timer);
    }
    const wall = process.hrtime.bigint() - start;
    const cpu = process.cpuUsage(cpuStart);
    handle.close();
    console.log(JSON.stringify({ client: 'node-simconnect', events, start_ns: Number(start), wall_ns: Number(wall),
        cpu_ns: (cpu.user + cpu.system) * 1000 }));
}

main().catch((e) => {
    console.error(`node_client_bench: ${e.message || e}`);
    process.exit(1);
});
