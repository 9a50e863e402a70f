// A small WebM writer for test videos: VP8 key frames, one cluster each, with cues (so
// a player seeks straight to a cluster) and, where asked, padding before a cluster (so a
// seek far into the file lands beyond what a player has fetched, and it must ask for a
// range).
const ID = {
  ebml: 0x1a45dfa3, ebmlVersion: 0x4286, ebmlReadVersion: 0x42f7, ebmlMaxIdLength: 0x42f2,
  ebmlMaxSizeLength: 0x42f3, docType: 0x4282, docTypeVersion: 0x4287, docTypeReadVersion: 0x4285,
  segment: 0x18538067, info: 0x1549a966, timecodeScale: 0x2ad7b1, duration: 0x4489, muxingApp: 0x4d80,
  writingApp: 0x5741, tracks: 0x1654ae6b, trackEntry: 0xae, trackNumber: 0xd7, trackUid: 0x73c5,
  trackType: 0x83, flagLacing: 0x9c, codecId: 0x86, video: 0xe0, pixelWidth: 0xb0, pixelHeight: 0xba,
  cues: 0x1c53bb6b, cuePoint: 0xbb, cueTime: 0xb3, cueTrackPositions: 0xb7, cueTrack: 0xf7,
  cueClusterPosition: 0xf1, cluster: 0x1f43b675, timecode: 0xe7, simpleBlock: 0xa3, void: 0xec,
};

function idBytes(id) {
  const bytes = [];
  for (let v = id; v > 0; v = Math.floor(v / 256)) bytes.unshift(v & 0xff);
  return Buffer.from(bytes);
}

// Sizes always take 8 bytes, so that every element's length is known before its content.
function sizeBytes(size) {
  const out = Buffer.alloc(8);
  out[0] = 0x01;
  out.writeUIntBE(Math.floor(size / 2 ** 32), 1, 3);
  out.writeUInt32BE(size % 2 ** 32, 4);
  return out;
}

function element(id, ...children) {
  const body = Buffer.concat(children);
  return Buffer.concat([idBytes(id), sizeBytes(body.length), body]);
}
const uint = (id, value) => {
  const body = Buffer.alloc(8);
  body.writeBigUInt64BE(BigInt(value));
  return element(id, body);
};
const float = (id, value) => {
  const body = Buffer.alloc(8);
  body.writeDoubleBE(value);
  return element(id, body);
};
const text = (id, value) => element(id, Buffer.from(value, 'ascii'));

// frames: [{ data: Buffer (a VP8 key frame), ms: its time, padBefore: bytes of padding
// before its cluster (optional) }], in order.
export function writeWebm({ width, height, frames, durationMs }) {
  const header = element(ID.ebml, uint(ID.ebmlVersion, 1), uint(ID.ebmlReadVersion, 1),
    uint(ID.ebmlMaxIdLength, 4), uint(ID.ebmlMaxSizeLength, 8), text(ID.docType, 'webm'),
    uint(ID.docTypeVersion, 2), uint(ID.docTypeReadVersion, 2));
  const info = element(ID.info, uint(ID.timecodeScale, 1000000), float(ID.duration, durationMs),
    text(ID.muxingApp, 'mesk tests'), text(ID.writingApp, 'mesk tests'));
  const tracks = element(ID.tracks, element(ID.trackEntry, uint(ID.trackNumber, 1), uint(ID.trackUid, 1),
    uint(ID.trackType, 1), uint(ID.flagLacing, 0), text(ID.codecId, 'V_VP8'),
    element(ID.video, uint(ID.pixelWidth, width), uint(ID.pixelHeight, height))));
  const pads = frames.map(({ padBefore }) => (padBefore ? element(ID.void, Buffer.alloc(padBefore)) : Buffer.alloc(0)));
  const clusters = frames.map(({ data, ms }, i) => {
    const block = Buffer.concat([Buffer.from([0x81, 0x00, 0x00, 0x80]), data]);  // track 1, +0 ms, key frame
    return Buffer.concat([pads[i], element(ID.cluster, uint(ID.timecode, ms), element(ID.simpleBlock, block))]);
  });
  // Positions count from the start of the segment's content; each cluster sits after its pad.
  const cuePoint = (ms, position) => element(ID.cuePoint, uint(ID.cueTime, ms),
    element(ID.cueTrackPositions, uint(ID.cueTrack, 1), uint(ID.cueClusterPosition, position)));
  const cuesLength = element(ID.cues, ...frames.map(() => cuePoint(0, 0))).length;
  let position = info.length + tracks.length + cuesLength;
  const points = frames.map(({ ms }, i) => {
    const point = cuePoint(ms, position + pads[i].length);
    position += clusters[i].length;
    return point;
  });
  const segment = element(ID.segment, info, tracks, element(ID.cues, ...points), ...clusters);
  return Buffer.concat([header, segment]);
}
