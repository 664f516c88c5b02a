"""Checks the files of /Export-Config against the package's manifest, both parsed with
ElementTree: identity, namespaces, applications, and every extension point one for one.

    verify_config.py PACKAGE.appv DEPLOYMENT.xml USER.xml
Prints each disagreement and exits 1 when there is one."""
import io, sys, zipfile

import xml.etree.ElementTree as ET

APPV = 'http://schemas.microsoft.com/appv/'
DEPLOYMENT, USER = APPV + '2010/deploymentconfiguration', APPV + '2010/userconfiguration'
LISTED = {'Shortcuts': 'AppV.Shortcut', 'FileTypeAssociations': 'AppV.FileTypeAssociation',
          'URLProtocols': 'AppV.URLProtocol', 'SoftwareClients': 'AppV.SoftwareClient', 'AppPaths': 'AppV.AppPath'}
SWITCHED = ['Objects', 'Registry', 'FileSystem', 'Fonts', 'Services']
# Categories whose subsystem is switched as a whole or listed elsewhere in the files.
COVERED = set(LISTED.values()) | {'AppV.ApplicationCapabilities', 'AppV.EnvironmentVariables', 'AppV.COM',
                                  'AppV.Fonts', 'AppV.Service'}
problems = []


def local(e):
    return e.tag.rsplit('}', 1)[-1]


def kids(e, name):
    return [c for c in e if local(c) == name] if e is not None else []


def canon(e):
    """An element as names, attributes, text and children, whatever its namespace."""
    children = list(e)
    return (local(e), sorted((k.rsplit('}', 1)[-1], v) for k, v in e.attrib.items()),
            None if children else (e.text or ''), [canon(c) for c in children])


manifest = ET.parse(io.BytesIO(zipfile.ZipFile(sys.argv[1]).read('AppxManifest.xml'))).getroot()
extensions = [x for lst in kids(manifest, 'Extensions') for x in kids(lst, 'Extension')]
for category in sorted({x.get('Category') for x in extensions} - COVERED):
    problems.append(f'the manifest has {category}, which the files do not carry')
identity = kids(manifest, 'Identity')[0]
package_id = next(v for k, v in identity.attrib.items() if k.endswith('}PackageId'))
display_name = ''.join(kids(kids(manifest, 'Properties')[0], 'DisplayName')[0].itertext())
app_ids = [a.get('Id') for lst in kids(manifest, 'Applications') for a in kids(lst, 'Application')]


def of(category):
    return [canon(x) for x in extensions if x.get('Category') == category]


def expect(what, ours, theirs):
    if ours != theirs:
        problems.append(f'{what}: the files hold {str(ours)[:300]}, the manifest {str(theirs)[:300]}')


def check_subsystem(subsystems, name, category, where):
    element = kids(subsystems, name)
    if len(element) != 1 or element[0].get('Enabled') != 'true':
        problems.append(f'{where}: {name} is missing or not enabled')
        return
    expect(f'{where}/{name}', [canon(x) for lst in kids(element[0], 'Extensions') for x in lst], of(category))


def check_user_part(part, where):
    expect(f'{where}/Applications', [(a.get('Id'), a.get('Enabled')) for a in kids(kids(part, 'Applications')[0], 'Application')],
           [(i, 'true') for i in app_ids])
    subsystems = kids(part, 'Subsystems')[0]
    for name, category in LISTED.items():
        check_subsystem(subsystems, name, category, where)
    for name in SWITCHED:
        expect(f'{where}/{name}', [e.get('Enabled') for e in kids(subsystems, name)], ['true'])
    expect(f'{where}/COM', [e.get('Mode') for e in kids(subsystems, 'COM')], ['Isolated'])
    variables = kids(subsystems, 'EnvironmentVariables')
    expect(f'{where}/EnvironmentVariables', [canon(c) for e in variables for c in e],
           [canon(c) for x in extensions if x.get('Category') == 'AppV.EnvironmentVariables'
            for v in kids(x, 'EnvironmentVariables') for c in v])
    expect(f'{where}/UserScripts', [canon(e) for e in kids(part, 'UserScripts')],
           [canon(e) for e in kids(manifest, 'UserScripts')])


for path, namespace, root_name in [(sys.argv[2], DEPLOYMENT, 'DeploymentConfiguration'), (sys.argv[3], USER, 'UserConfiguration')]:
    root = ET.parse(path).getroot()
    expect(path + ' root', (root.tag, root.get('PackageId'), root.get('DisplayName')),
           ('{%s}%s' % (namespace, root_name), package_id, display_name))
    stray = {e.tag.split('}')[0][1:] for e in root.iter()} - {namespace}
    if stray:
        problems.append(f'{path}: elements outside {namespace}: {stray}')
    if root_name == 'UserConfiguration':
        check_user_part(root, path)
        continue
    check_user_part(kids(root, 'UserConfiguration')[0], path + ' UserConfiguration')
    machine = kids(root, 'MachineConfiguration')[0]
    check_subsystem(kids(machine, 'Subsystems')[0], 'ApplicationCapabilities', 'AppV.ApplicationCapabilities', path)
    for name in ['MachineScripts', 'TerminateChildProcesses']:
        expect(f'{path}/{name}', [canon(e) for e in kids(machine, name)], [canon(e) for e in kids(manifest, name)])

print('\n'.join(problems))
sys.exit(1 if problems else 0)
