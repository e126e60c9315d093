// Prints, as JSON, every folder of a personal-folder file and every property of every item, as
// the npm package pst-extractor reads them: node pst-dump.js FILE
//
// { "folders": [ { "path": "Top of Personal Folders/Contacts", "containerClass": "IPF.Contact",
//     "contentCount": 2, "items": [ { "0x3A06": "Anna", "lid:0x8083": "a@example.com",
//     "name:Keywords": ["A", "B"], ... } ] } ] }
//
// Tagged properties are keyed by their id, named ones by "lid:" and their number or "name:" and
// their string (the mapping through the store's name-to-id map is pst-extractor's own).
'use strict';
const { PSTFile, PSTFile: PSTFileClass } = require('pst-extractor');

function decode(type, data, inlineValue) {
  const base = type & 0x0fff;
  const multi = (type & 0x1000) !== 0;
  const one = (buf) => {
    switch (base) {
      case 0x001f: return buf.toString('utf16le');
      case 0x001e: return buf.toString('latin1');
      case 0x0102: return buf.toString('hex');
      case 0x0048: return buf.toString('hex');
      case 0x0040: {
        const ft = buf.readBigUInt64LE(0);
        if (ft === 0n) return null;
        return new Date(Number((ft - 116444736000000000n) / 10000n)).toISOString();
      }
      case 0x0014: return buf.readBigInt64LE(0).toString();
      case 0x0005: return buf.readDoubleLE(0);
      default: return buf.toString('hex');
    }
  };
  if (!multi) {
    switch (base) {
      case 0x0002: return inlineValue & 0xffff;
      case 0x0003: return inlineValue | 0;
      case 0x000b: return (inlineValue & 0xff) !== 0;
      default: return data ? one(data) : null;
    }
  }
  if (!data || data.length === 0) return [];
  const fixed = { 0x0002: 2, 0x0003: 4, 0x0014: 8, 0x0040: 8, 0x0005: 8, 0x0048: 16 }[base];
  const values = [];
  if (fixed) {
    for (let o = 0; o + fixed <= data.length; o += fixed) {
      const b = data.subarray(o, o + fixed);
      values.push(base === 0x0003 ? b.readInt32LE(0) : base === 0x0002 ? b.readInt16LE(0) : one(b));
    }
    return values;
  }
  const count = data.readUInt32LE(0);
  for (let i = 0; i < count; i++) {
    const start = data.readUInt32LE(4 + 4 * i);
    const end = i + 1 < count ? data.readUInt32LE(8 + 4 * i) : data.length;
    values.push(one(data.subarray(start, end)));
  }
  return values;
}

function properties(obj) {
  const out = {};
  const map = PSTFileClass.nodeMap;
  for (const [id, item] of obj.pstTableItems || new Map()) {
    let data = null;
    if (item.isExternalValueReference) {
      const desc = obj.localDescriptorItems && obj.localDescriptorItems.get(item.entryValueReference);
      data = desc ? desc.getData() : null;
    } else {
      data = item.data;
    }
    let key = '0x' + id.toString(16).toUpperCase().padStart(4, '0');
    if (id >= 0x8000) {
      const numeric = map.getNumericName(id);
      if (numeric !== undefined) key = 'lid:0x' + (numeric.toNumber() & 0xffffffff).toString(16).toUpperCase().padStart(4, '0');
      else if (map.idToStringName.has(id)) key = 'name:' + map.idToStringName.get(id);
    }
    out[key] = decode(item.entryValueType, data, item.entryValueReference);
  }
  return out;
}

function walk(folder, path, folders) {
  const entry = {
    path,
    containerClass: folder.containerClass,
    contentCount: folder.contentCount,
    items: [],
  };
  if (folder.contentCount > 0) {
    let child = folder.getNextChild();
    while (child != null) {
      entry.items.push(properties(child));
      child = folder.getNextChild();
    }
  }
  folders.push(entry);
  if (folder.hasSubfolders) {
    for (const sub of folder.getSubFolders()) {
      walk(sub, path ? path + '/' + sub.displayName : sub.displayName, folders);
    }
  }
}

const file = process.argv[2];
if (!file) {
  console.error('usage: node pst-dump.js FILE');
  process.exit(2);
}
const pst = new PSTFile(file);
const folders = [];
walk(pst.getRootFolder(), '', folders);
process.stdout.write(JSON.stringify({ folders }, (k, v) => (typeof v === 'bigint' ? v.toString() : v), 1));
process.stdout.write('\n');
