# Chocolatey uninstall script for a package that carries QvUnInstall.exe in its
# tools folder: `choco uninstall PACKAGE` runs the quiet uninstall with a log.
#
# Put it in the package's tools\ folder beside QvUnInstall.exe. 1605 (nothing
# of the family there, as after a completed run) counts as success; any other
# status makes choco fail, and the log says why.

$ErrorActionPreference = 'Stop'

$toolsDir = Split-Path -Parent $MyInvocation.MyCommand.Definition
$listPath = 'C:\Quorvan\QvUninst.txt'
# Outside the product's folders: an open log keeps its folder from being removed.
$logDir   = 'C:\Logs\Quorvan'
$logPath  = Join-Path $logDir 'uninstall.log'

# A log that cannot be opened stops the run before it begins (1622).
if (-not (Test-Path -LiteralPath $logDir)) {
    New-Item -ItemType Directory -Path $logDir -Force | Out-Null
}

$packageArgs = @{
    PackageName    = $env:ChocolateyPackageName
    FileType       = 'exe'
    File           = Join-Path $toolsDir 'QvUnInstall.exe'
    SilentArgs     = "-q -p `"$listPath`" -l `"$logPath`""
    ValidExitCodes = @(0, 1605)
}
Uninstall-ChocolateyPackage @packageArgs
