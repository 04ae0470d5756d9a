# Detection script for Configuration Manager and Intune: is the Quorvan family
# still on this machine?
#
# Use it as the application's custom detection script (PowerShell 2.0 or later).
# A line on standard output means still there; nothing means gone. It always
# exits 0 and writes nothing to standard error: a non-zero exit reads as
# "unknown" in one tool and as "not installed" in the other.
#
# Where an earlier step kept a plan ($PlanPath, made by QvUninstCheck.exe
# --machine --json), the companion's verification decides: 0 gone, 1 still
# there. Otherwise it looks for the list file and the product's registry key.

$ErrorActionPreference = 'SilentlyContinue'

$ListPath = 'C:\Quorvan\QvUninst.txt'
$PlanPath = 'C:\Logs\Quorvan\plan.json'
$LogPath  = 'C:\Logs\Quorvan\uninstall.log'
$CheckExe = 'C:\Quorvan\Tools\QvUninstCheck.exe'
$KeyPath  = 'Software\Quorvan'

# The product is a 32-bit program: its key is in the 32-bit view, which a
# 64-bit PowerShell sees only when asked for it.
function Test-QvKey {
    $viewType = 'Microsoft.Win32.RegistryView' -as [type]
    if ($viewType) {
        $view = [Enum]::Parse($viewType, 'Registry32')
        $base = [Microsoft.Win32.RegistryKey]::OpenBaseKey([Microsoft.Win32.RegistryHive]::LocalMachine, $view)
        $key = $base.OpenSubKey($KeyPath)
        $found = $null -ne $key
        if ($found) { $key.Close() }
        $base.Close()
        return $found
    }
    # .NET before 4 has no views: a 64-bit process finds the 32-bit view
    # under WOW6432Node, a 32-bit one where the product wrote it.
    if ([IntPtr]::Size -eq 8) {
        return (Test-Path -LiteralPath "HKLM:\SOFTWARE\WOW6432Node\Quorvan")
    }
    return (Test-Path -LiteralPath "HKLM:\$KeyPath")
}

try {
    $verdict = 2
    if ((Test-Path -LiteralPath $PlanPath) -and (Test-Path -LiteralPath $CheckExe)) {
        $arguments = @('--verify', $PlanPath)
        if (Test-Path -LiteralPath $LogPath) { $arguments += @('--log', $LogPath) }
        # A companion that cannot be started counts as no companion.
        try {
            & $CheckExe $arguments 2>&1 | Out-Null
            $verdict = $LASTEXITCODE
        } catch {
            $verdict = 2
        }
    }

    if ($verdict -eq 1) {
        Write-Output "Quorvan: the verification of $PlanPath finds the uninstall not complete"
    } elseif ($verdict -ne 0) {
        # No plan, no companion, or a plan it could not read: look for ourselves.
        $there = @()
        if (Test-Path -LiteralPath $ListPath) { $there += "the uninstall list $ListPath" }
        if (Test-QvKey) { $there += "the registry key HKLM\$KeyPath (32-bit view)" }
        if ($there.Count -gt 0) { Write-Output ("Quorvan: still there: " + ($there -join ', ')) }
    }
} catch {
    # A look that failed must not pass for a completed uninstall.
    Write-Output "Quorvan: detection could not finish, taken as still there"
}
exit 0
