// Prints, as JSON, every folder of a personal-folder file and every property of every item, as
// the npm package pst-extractor reads them: node pst-dump.js FILE
//
// { "folders": [ { "path": "Top of Personal Folders/Contacts", "containerClass": "IPF.Contact",
//     "contentCount": 2, "items": [ { "0x3A06": "Anna", "lid:0x8083": "a@example.com",
//     "name:Keywords": "02000000...", ...,
//     "attachments": [ { "name": "ContactPicture.jpg", "mimeTag": "image/jpeg", "hex": "ffd8..." } ]
//   } ] } ] }
//
// Tagged properties are keyed by their id, named ones by "lid:" and their number or "name:" and
// their string (the mapping through the store's name-to-id map is pst-extractor's own).
'use strict';
const { PSTFile, PSTFile: PSTFileClass } = require('pst-extractor');

// Single-valued strings come as text; every other value as the hex of its bytes (a value held
// in the property's own four-byte field as those four bytes), for a byte-for-byte comparison.
function decode(type, data, inlineValue) {
  if (type === 0x001f || type === 0x001e) {
    return data ? data.toString(type === 0x001f ? 'utf16le' : 'latin1') : '';
  }
  if (type === 0x0002 || type === 0x0003 || type === 0x000b) {
    const field = Buffer.alloc(4);
    field.writeUInt32LE(inlineValue >>> 0);
    return field.toString('hex');
  }
  return data ? data.toString('hex') : '';
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
      const item = properties(child);
      // Attachments, where an item has them: their names, MIME types and bytes as hex.
      const count = child.numberOfAttachments;
      if (count > 0) {
        item.attachments = [];
        for (let i = 0; i < count; i++) {
          const a = child.getAttachment(i);
          const data = Buffer.alloc(a.filesize);
          if (a.filesize > 0) a.fileInputStream.readCompletely(data);
          item.attachments.push({ name: a.longFilename, mimeTag: a.mimeTag, hex: data.toString('hex') });
        }
      }
      entry.items.push(item);
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
