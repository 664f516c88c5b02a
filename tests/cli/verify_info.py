"""Checks what /Info and /Export-Config show of a package against the package itself, parsed
without Quendle: the manifest and the history with ElementTree, the hive with hivex, the entries
with zipfile.

    verify_info.py INFO.json PACKAGE.appv INSPECT.md INFO.txt
        /Info -json -files, every key of it against the key table of docs/inspect.md both ways,
        and the entry table of /Info -files (INFO.txt): header, kind, sizes and totals.
    verify_info.py --config PACKAGE.appv DEPLOYMENT.xml USER.xml
        The configuration files: identity, namespaces, applications, every extension point one
        for one.
Prints each disagreement and exits 1 when there is one."""
import io, json, re, sys, tempfile, zipfile
from collections import Counter
from urllib.parse import unquote

import hivex
import xml.etree.ElementTree as ET

problems = []


def expect(what, ours, theirs):
    if ours != theirs:
        problems.append(f"{what}: Quendle says {str(ours)[:300]}, the package says {str(theirs)[:300]}")


def local(e):
    return e.tag.rsplit('}', 1)[-1]


def kids(e, name):
    return [c for c in e if local(c) == name] if e is not None else []


def first(e, *path):
    for name in path:
        found = kids(e, name)
        e = found[0] if found else None
    return e


def text(e):
    return '' if e is None else ''.join(e.itertext())


def below(e, name):
    return [d for d in e.iter() if d is not e and local(d) == name]


def manifest_of(package):
    root = ET.parse(io.BytesIO(package.read('AppxManifest.xml'))).getroot()
    identity = first(root, 'Identity')
    package_id = next(v for k, v in identity.attrib.items() if k.endswith('}PackageId'))
    extensions = [x for lst in kids(root, 'Extensions') for x in kids(lst, 'Extension')]
    return root, identity, package_id, text(first(root, 'Properties', 'DisplayName')), extensions


def check_info(info_path, package_path, inspect_path, text_path):
    info = json.load(open(info_path, encoding='utf-8'))
    package = zipfile.ZipFile(package_path)
    entries = package.infolist()
    expect('files', [(f['entry'], f['path'], f['size'], f['compressedSize']) for f in info['files']],
           [(i.filename, unquote(i.filename).replace('/', '\\'), i.file_size, i.compress_size) for i in entries])
    expect('totals', (info['entryCount'], info['size'], info['compressedSize'], info['fileCount'], info['scripts']),
           (len(entries), sum(i.file_size for i in entries), sum(i.compress_size for i in entries),
            sum(1 for i in entries if i.filename.startswith('Root/')),
            [unquote(i.filename[8:]) for i in entries if i.filename.startswith('Scripts/')]))
    check_files_text(open(text_path, encoding='utf-8').read().split('\n'), entries)

    root, identity, package_id, display_name, extensions = manifest_of(package)
    expect('identity', [info['identity'][k] for k in ('name', 'version', 'packageId', 'displayName')],
           [identity.get('Name'), identity.get('Version'), package_id, display_name])
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
    expect('extensions', [(e['category'], e['applicationId']) for e in info['extensions']],
           [(x.get('Category'), text((below(x, 'ApplicationId') or [None])[0])) for x in extensions])
    for e, x in zip(info['extensions'], extensions):
        if e['category'] in names:
            expect('name of ' + e['category'], e['name'], names[e['category']](x))
    expect('extensionPoints', {c['category']: c['count'] for c in info['extensionPoints']},
           dict(Counter(x.get('Category') for x in extensions)))

    targets = first(root, 'Prerequisites', 'TargetOSes')
    pre = info['prerequisites']
    expect('targetOSes', pre['targetOSes'], [text(t) for t in kids(targets, 'TargetOS')])
    expect('processorArchitecture', pre['processorArchitecture'],
           targets.get('SequencingStationProcessorArchitecture', '') if targets is not None else '')
    expect('osMinVersion', pre['osMinVersion'], text(first(root, 'Prerequisites', 'OSMinVersion')))
    expect('registry', info['registry'], registry_roots(package))

    doc = open(inspect_path, encoding='utf-8').read().split('JSON keys', 1)[1].split('\n## ', 1)[0]
    documented = set()
    for line in doc.splitlines():
        if line.startswith('| `'):
            documented.update(re.findall(r'`([^`]+)`', line.split('|')[1]))
    output = set(paths(info))
    problems.extend(f'{p} is in the output but not in docs/inspect.md' for p in sorted(output - documented))
    problems.extend(f'{p} is documented but not in the output' for p in sorted(documented - output))


def check_files_text(lines, entries):
    at = next(i for i, l in enumerate(lines) if l.startswith('Entries:'))
    expect('-files header', bool(re.fullmatch(r'  kind +size +packed  path', lines[at + 1])), True)
    kind = lambda n: 'file' if n.startswith('Root/') else 'script' if n.startswith('Scripts/') else 'part'
    expect('-files rows', [l.split()[:3] for l in lines[at + 2:at + 2 + len(entries)]],
           [[kind(i.filename), str(i.file_size), str(i.compress_size)] for i in entries])
    kinds = Counter(kind(i.filename) for i in entries)
    expect('-files totals', lines[at + 2 + len(entries)].split(),
           ['total', str(sum(i.file_size for i in entries)), str(sum(i.compress_size for i in entries))] +
           ('%d entries: %d files, %d scripts, %d parts' % (
               len(entries), kinds['file'], kinds['script'], kinds['part'])).split())


def registry_roots(package):
    roots = []
    if 'Registry.dat' not in package.namelist():
        return roots
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
            for node in h.node_children(top) if h.node_name(top).upper() == 'REGISTRY' else [None]:
                keys, values = count(node or top)
                roots.append({'root': h.node_name(top) + ('\\' + h.node_name(node) if node else ''),
                              'keys': keys, 'values': values})
    return roots


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


APPV = 'http://schemas.microsoft.com/appv/'
DEPLOYMENT, USER = APPV + '2010/deploymentconfiguration', APPV + '2010/userconfiguration'
LISTED = {'Shortcuts': 'AppV.Shortcut', 'FileTypeAssociations': 'AppV.FileTypeAssociation',
          'URLProtocols': 'AppV.URLProtocol', 'SoftwareClients': 'AppV.SoftwareClient', 'AppPaths': 'AppV.AppPath'}
SWITCHED = ['Objects', 'Registry', 'FileSystem', 'Fonts', 'Services']
# Categories whose subsystem is switched as a whole or listed elsewhere in the files.
COVERED = set(LISTED.values()) | {'AppV.ApplicationCapabilities', 'AppV.EnvironmentVariables', 'AppV.COM',
                                  'AppV.Fonts', 'AppV.Service'}


def canon(e):
    """An element as names, attributes, text and children, whatever its namespace."""
    children = list(e)
    return (local(e), sorted((k.rsplit('}', 1)[-1], v) for k, v in e.attrib.items()),
            None if children else (e.text or ''), [canon(c) for c in children])


def check_config(package_path, deployment_path, user_path):
    manifest, _, package_id, display_name, extensions = manifest_of(zipfile.ZipFile(package_path))
    for category in sorted({x.get('Category') for x in extensions} - COVERED):
        problems.append(f'the manifest has {category}, which the files do not carry')
    app_ids = [a.get('Id') for lst in kids(manifest, 'Applications') for a in kids(lst, 'Application')]
    of = lambda category: [canon(x) for x in extensions if x.get('Category') == category]
    same = lambda where, e, name: expect(f'{where}/{name}', [canon(c) for c in kids(e, name)],
                                         [canon(c) for c in kids(manifest, name)])

    def check_subsystem(subsystems, name, category, where):
        element = kids(subsystems, name)
        if len(element) != 1 or element[0].get('Enabled') != 'true':
            problems.append(f'{where}: {name} is missing or not enabled')
            return
        expect(f'{where}/{name}', [canon(x) for lst in kids(element[0], 'Extensions') for x in lst], of(category))

    def check_user_part(part, where):
        expect(f'{where}/Applications', [(a.get('Id'), a.get('Enabled')) for a in kids(first(part, 'Applications'), 'Application')],
               [(i, 'true') for i in app_ids])
        subsystems = first(part, 'Subsystems')
        for name, category in LISTED.items():
            check_subsystem(subsystems, name, category, where)
        for name in SWITCHED:
            expect(f'{where}/{name}', [e.get('Enabled') for e in kids(subsystems, name)], ['true'])
        expect(f'{where}/COM', [e.get('Mode') for e in kids(subsystems, 'COM')], ['Isolated'])
        expect(f'{where}/EnvironmentVariables', [canon(c) for e in kids(subsystems, 'EnvironmentVariables') for c in e],
               [canon(c) for x in extensions if x.get('Category') == 'AppV.EnvironmentVariables'
                for v in kids(x, 'EnvironmentVariables') for c in v])
        same(where, part, 'UserScripts')

    for path, namespace, root_name in [(deployment_path, DEPLOYMENT, 'DeploymentConfiguration'),
                                       (user_path, USER, 'UserConfiguration')]:
        root = ET.parse(path).getroot()
        expect(path + ' root', (root.tag, root.get('PackageId'), root.get('DisplayName')),
               ('{%s}%s' % (namespace, root_name), package_id, display_name))
        stray = {e.tag.split('}')[0][1:] for e in root.iter()} - {namespace}
        if stray:
            problems.append(f'{path}: elements outside {namespace}: {stray}')
        if root_name == 'UserConfiguration':
            check_user_part(root, path)
            continue
        check_user_part(first(root, 'UserConfiguration'), path + ' UserConfiguration')
        machine = first(root, 'MachineConfiguration')
        check_subsystem(first(machine, 'Subsystems'), 'ApplicationCapabilities', 'AppV.ApplicationCapabilities', path)
        for name in ['MachineScripts', 'TerminateChildProcesses']:
            same(path, machine, name)


if sys.argv[1] == '--config':
    check_config(*sys.argv[2:])
else:
    check_info(*sys.argv[1:])
print('\n'.join(problems))
sys.exit(1 if problems else 0)
