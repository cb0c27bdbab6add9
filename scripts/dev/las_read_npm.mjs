// Reads a LAS file (1.0 to 1.3) with the npm package @loaders.gl/las and
// prints positions, intensity, classification byte and 8-bit colours as JSON.
// Usage: node las_read_npm.mjs FILE.las   (NODE_PATH: where the package is)
import {readFileSync} from 'fs';
import {createRequire} from 'module';

const require = createRequire(process.env.NODE_PATH + '/');
const {load} = require('@loaders.gl/core');
const {LASLoader} = require('@loaders.gl/las');
const buf = readFileSync(process.argv[2]);
const data = await load(buf.buffer.slice(buf.byteOffset, buf.byteOffset + buf.byteLength), LASLoader,
                        {las: {shape: 'mesh', fp64: true, skip: 1, colorDepth: 16}, worker: false});
const out = {header: data.loaderData};
for (const [name, attribute] of Object.entries(data.attributes)) out[name] = Array.from(attribute.value);
console.log(JSON.stringify(out));
