import QtQuick

// Finds items in a loaded view by what they show, for the views' tests.
QtObject {
    /// The first item below `root` (itself included) for which `matches` holds, depth first; null if none.
    function find(root: Item, matches: var): Item {
        if (root === null)
            return null;
        if (matches(root))
            return root;
        for (let i = 0; i < root.children.length; ++i) {
            const found = find(root.children[i], matches);
            if (found !== null)
                return found;
        }
        return null;
    }
    /// Every item below `root` for which `matches` holds.
    function findAll(root: Item, matches: var): var {
        let found = [];
        if (matches(root))
            found.push(root);
        for (let i = 0; i < root.children.length; ++i)
            found = found.concat(findAll(root.children[i], matches));
        return found;
    }
    /// An item by its objectName below `root`.
    function named(root: Item, name: string): Item {
        return find(root, item => item.objectName === name);
    }
    /// The application row showing `appName`.
    function appRow(root: Item, appName: string): Item {
        return find(root, item => item.appId !== undefined && item.name === appName && item.levelText !== undefined);
    }
    /// The native row of a connector.
    function nativeRow(root: Item, source: int): Item {
        return find(root, item => item.blocked !== undefined && item.session !== undefined && item.session.source === source);
    }
}
