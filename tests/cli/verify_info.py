"""Checks /Info -json -files against the package itself, parsed without Quendle: the manifest
and the history with ElementTree, the hive with hivex, the entries with zipfile; and every key of
the document against the key table of docs/inspect.md, both ways.

    verify_info.py INFO.json PACKAGE.appv INSPECT.md
Prints each disagreement and exits 1 when there is one."""
import io, json, re, sys, tempfile, zipfile
from urllib.parse import unquote

import hivex
import xml.etree.ElementTree as ET

info = json.load(open(sys.argv[1], encoding='utf-8'))
package = zipfile.ZipFile(sys.argv[2])
problems = []


def expect(what, ours, theirs):
    if ours != theirs:
        problems.append(f"{what}: /Info says {str(ours)[:300]}, the package says {str(theirs)[:300]}")


def local(e):
    return e.tag.rsplit('}', 1)[-1]


def kids(e, name):
    return [c for c in e if local(c) == name]


def first(e, *path):
    for name in path:
        found = kids(e, name) if e is not None else []
        e = found[0] if found else None
    return e


def text(e):
    return '' if e is None else ''.join(e.itertext())


def below(e, name):
    return [d for d in e.iter() if d is not e and local(d) == name]


entries = package.infolist()
expect('files', [(f['entry'], f['path'], f['size'], f['compressedSize']) for f in info['files']],
       [(i.filename, unquote(i.filename).replace('/', '\\'), i.file_size, i.compress_size) for i in entries])
expect('totals', (info['entryCount'], info['size'], info['compressedSize'], info['fileCount'], info['scripts']),
       (len(entries), sum(i.file_size for i in entries), sum(i.compress_size for i in entries),
        sum(1 for i in entries if i.filename.startswith('Root/')),
        [unquote(i.filename[8:]) for i in entries if i.filename.startswith('Scripts/')]))

root = ET.parse(io.BytesIO(package.read('AppxManifest.xml'))).getroot()
identity = first(root, 'Identity')
expect('identity', [info['identity'][k] for k in ('name', 'version', 'packageId', 'displayName')],
       [identity.get('Name'), identity.get('Version'),
        next(v for k, v in identity.attrib.items() if k.endswith('}PackageId')),
        text(first(root, 'Properties', 'DisplayName'))])
history = ET.parse(io.BytesIO(package.read('PackageHistory.xml'))).getroot()
expect('history', [(h['packageVersion'], h['packagingEngine']) for h in info['history']],
       [(i.get('PackageVersion', ''), i.get('PackagingEngine', '')) for i in history])
apps = [(a.get('Id'), text(first(a, 'VisualElements', 'Name')), text(first(a, 'VisualElements', 'Version')),
         text(first(a, 'Target'))) for lst in kids(root, 'Applications') for a in kids(lst, 'Application')]
expect('applications', [(a['id'], a['name'], a['version'], a['target']) for a in info['applications']], apps)

names = {'AppV.Shortcut': lambda x: text(below(x, 'File')[0]),
         'AppV.FileTypeAssociation': lambda x: text(first(x, 'FileTypeAssociation', 'FileExtension', 'Name')),
         'AppV.URLProtocol': lambda x: text(first(x, 'URLProtocol', 'Name')),
         'AppV.AppPath': lambda x: text(first(x, 'AppPath', 'Name'))}
extensions = [x for lst in kids(root, 'Extensions') for x in kids(lst, 'Extension')]
ours = [(e['category'], e['applicationId']) for e in info['extensions']]
expect('extensions', ours, [(x.get('Category'), text((below(x, 'ApplicationId') or [None])[0])) for x in extensions])
for e, x in zip(info['extensions'], extensions):
    if e['category'] in names:
        expect('name of ' + e['category'], e['name'], names[e['category']](x))
counts = {}
for x in extensions:
    counts[x.get('Category')] = counts.get(x.get('Category'), 0) + 1
expect('extensionPoints', {c['category']: c['count'] for c in info['extensionPoints']}, counts)

targets = first(root, 'Prerequisites', 'TargetOSes')
pre = info['prerequisites']
expect('targetOSes', pre['targetOSes'], [text(t) for t in kids(targets, 'TargetOS')] if targets is not None else [])
expect('processorArchitecture', pre['processorArchitecture'],
       targets.get('SequencingStationProcessorArchitecture', '') if targets is not None else '')
expect('osMinVersion', pre['osMinVersion'], text(first(root, 'Prerequisites', 'OSMinVersion')))

roots = []
if 'Registry.dat' in package.namelist():
    with tempfile.NamedTemporaryFile(suffix='.dat') as f:
        f.write(package.read('Registry.dat'))
        f.flush()
        h = hivex.Hivex(f.name)

        def count(node):
            keys, values = 0, len(h.node_values(node))
            for child in h.node_children(node):
                k, v = count(child)
                keys, values = keys + 1 + k, values + v
            return keys, values

        for top in h.node_children(h.root()):
            tops = h.node_children(top) if h.node_name(top).upper() == 'REGISTRY' else [None]
            for node in tops:
                path = h.node_name(top) + ('\\' + h.node_name(node) if node else '')
                roots.append({'root': path, 'keys': count(node or top)[0], 'values': count(node or top)[1]})
expect('registry', info['registry'], roots)


def paths(value, prefix=''):
    if isinstance(value, dict):
        for k, v in value.items():
            yield from paths(v, prefix + ('.' if prefix else '') + k)
    elif isinstance(value, list) and value and isinstance(value[0], dict):
        yield prefix
        for item in value:
            yield from paths(item, prefix + '[]')
    else:
        yield prefix


doc = open(sys.argv[3], encoding='utf-8').read().split('JSON keys', 1)[1].split('\n## ', 1)[0]
documented = set()
for line in doc.splitlines():
    if line.startswith('| `'):
        documented.update(re.findall(r'`([^`]+)`', line.split('|')[1]))
output = set(paths(info))
for p in sorted(output - documented):
    problems.append(f'{p} is in the output but not in docs/inspect.md')
for p in sorted(documented - output):
    problems.append(f'{p} is documented but not in the output')

print('\n'.join(problems))
sys.exit(1 if problems else 0)
